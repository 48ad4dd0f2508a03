#include "valdor/production/run_options.h"

#include <cmath>
#include <cstdlib>
#include <map>

namespace valdor {

namespace {

bool nameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

bool parseSeconds(const std::string &text, double &seconds) {
    if (text.empty()) return false;
    char *end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(seconds) && seconds > 0;
}

// A command line or a units file is wrong: no system call failed.
rslink::Failure refusal(std::string why) { return {0, std::move(why)}; }

std::string trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return std::string(s.substr(first, s.find_last_not_of(" \t\r") - first + 1));
}

}  // namespace

bool validUnitName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name)
        if (!nameCharacter(c)) return false;
    return true;
}

std::string nameFromPort(std::string_view port) {
    while (port.size() > 1 && port.back() == '/') port.remove_suffix(1);
    const size_t slash = port.rfind('/');
    std::string name(slash == std::string_view::npos ? port : port.substr(slash + 1));
    for (char &c : name)
        if (!nameCharacter(c)) c = '_';
    return name;
}

rslink::Result<UnitEntry> parseUnitWord(std::string_view word) {
    const size_t equals = word.find('=');
    const bool named = equals != std::string_view::npos && word.substr(0, equals).find('/') == std::string_view::npos;
    UnitEntry unit;
    unit.named = named;
    unit.port = std::string(named ? word.substr(equals + 1) : word);
    unit.name = named ? std::string(word.substr(0, equals)) : nameFromPort(unit.port);
    if (unit.port.empty()) return refusal("--unit " + std::string(word) + ": no PORT");
    if (validUnitName(unit.name)) return unit;
    if (!named)
        return refusal("--unit " + std::string(word) + ": no unit name follows from this PORT; give NAME=PORT");
    return refusal("unit name '" + unit.name + "': letters, digits, '-', '_' and '.' only, and not '.' or '..' alone");
}

rslink::Result<std::vector<UnitEntry>> parseUnitsFile(std::string_view text, const std::string &file) {
    std::vector<UnitEntry> units;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::string where = file + " line " + std::to_string(number) + ": ";
        const size_t blank = line.find_first_of(" \t");
        if (blank == std::string::npos) return refusal(where + "give NAME PORT");
        UnitEntry unit{line.substr(0, blank), trim(line.substr(blank)), true};
        if (unit.port.find_first_of(" \t") != std::string::npos) return refusal(where + "give NAME PORT, nothing more");
        if (!validUnitName(unit.name))
            return refusal(where + "unit name '" + unit.name +
                           "': letters, digits, '-', '_' and '.' only, and not '.' or '..' alone");
        units.push_back(std::move(unit));
    }
    return units;
}

rslink::Result<> checkDistinct(const std::vector<UnitEntry> &units,
                               const std::function<std::string(const std::string &)> &device) {
    std::map<std::string, const UnitEntry *> names, ports, devices;
    for (const auto &unit : units) {
        if (!names.emplace(unit.name, &unit).second) return refusal("unit name " + unit.name + " is given twice");
        if (auto [at, fresh] = ports.emplace(unit.port, &unit); !fresh)
            return refusal("port " + unit.port + " is given twice (units " + at->second->name + " and " + unit.name +
                           ")");
        const std::string opens = device(unit.port);
        if (auto [at, fresh] = devices.emplace(opens, &unit); !fresh)
            return refusal("ports " + at->second->port + " and " + unit.port + " are the same device " + opens +
                           " (units " + at->second->name + " and " + unit.name + ")");
    }
    return {};
}

rslink::Result<RunOptions> parseRunArguments(const std::vector<std::string> &words) {
    RunOptions options;
    bool haveRecipe = false, haveTimeout = false;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string option = words[i], value;
        bool inline_ = false;
        if (const size_t equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            inline_ = true;
        }
        static const std::map<std::string, const char *> kValues = {
            {"--run", "RECIPE"},         {"--unit", "[NAME=]PORT"}, {"--units", "FILE"},     {"--out", "DIR"},
            {"--station", "NAME"},       {"--unit-timeout", "SECONDS"}, {"--retest", "DIR"},
        };
        const auto known = kValues.find(option);
        if (known == kValues.end()) return refusal("unknown option '" + words[i] + "'");
        if (!inline_) {
            if (i + 1 >= words.size()) return refusal(option + " needs " + known->second);
            value = words[++i];
        }
        if (value.empty()) return refusal(option + " needs " + known->second);
        const rslink::Failure twice = refusal(option + " is given twice");
        if (option == "--run") {
            if (haveRecipe) return twice;
            haveRecipe = true;
            options.recipe = value;
        } else if (option == "--unit") {
            auto unit = parseUnitWord(value);
            if (!unit) return unit.failure();
            options.units.push_back(*unit);
        } else if (option == "--units") {
            options.unitsFiles.push_back(value);
        } else if (option == "--out") {
            if (options.out) return twice;
            options.out = value;
        } else if (option == "--station") {
            if (options.station) return twice;
            options.station = value;
        } else if (option == "--unit-timeout") {
            if (haveTimeout) return twice;
            haveTimeout = true;
            if (!parseSeconds(value, options.unitTimeout))
                return refusal("--unit-timeout: bad SECONDS '" + value + "' (a number above 0)");
        } else {
            if (options.retest) return twice;
            options.retest = value;
        }
    }
    if (!haveRecipe) return refusal("--run needs RECIPE");
    return options;
}

}  // namespace valdor
