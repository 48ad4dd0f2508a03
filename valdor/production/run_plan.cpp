#include "valdor/production/run_plan.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "valdor/production/records.h"
#include "valdor/production/retest.h"
#include "valdor/production/sha256.h"
#include "valdor/production/unit_port.h"

namespace valdor {

namespace {

namespace fs = std::filesystem;

// The whole file at `path`.  The failure reads "cannot read NAMED: REASON".
rslink::Result<std::string> readFile(const std::string &path, const std::string &named) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return rslink::Failure::ofErrno("cannot read " + named);
    auto text = readWhole(fd);
    ::close(fd);
    if (!text) return rslink::Failure::of(text.failure().error, "cannot read " + named);
    return text;
}

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

PlanResult refused(std::string line) { return {PlanResult::Kind::Refused, {"valdor: " + std::move(line)}}; }

rslink::Result<> checkOutFolder(const std::string &dir) {
    std::error_code error;
    const auto status = fs::status(dir, error);
    if (status.type() == fs::file_type::not_found) return {};
    if (error) return rslink::Failure{error.value(), "cannot use the output folder " + dir + ": " + error.message()};
    if (status.type() != fs::file_type::directory) return rslink::Failure{0, "the output folder " + dir + " is not a folder"};
    const bool empty = fs::is_empty(dir, error);
    if (error) return rslink::Failure{error.value(), "cannot read the output folder " + dir + ": " + error.message()};
    if (!empty) return rslink::Failure{0, "the output folder " + dir + " exists and is not empty"};
    return {};
}

// The units a retest runs: those of DIR that did not pass; `given` only
// moves them to new ports.
PlanResult retestUnits(const std::string &dir, const RunPlan &plan, const std::vector<UnitEntry> &given,
                       std::vector<UnitEntry> &units) {
    const std::string file = dir + "/summary.csv";
    const auto text = readFile(file, file);
    if (!text) return refused("--retest: " + text.failure().why);
    const auto rows = readSummary(*text);
    if (!rows) return refused("--retest: " + file + ": " + rows.failure().why);
    auto retest = unitsToRetest(*rows, plan.recipeSha256, given);
    if (!retest) return refused("--retest " + dir + ": " + retest.failure().why);
    units = std::move(*retest);
    if (units.empty()) return {PlanResult::Kind::NothingToRetest, {"valdor: nothing to retest: every unit of " + dir + " passed"}};
    return {};
}

}  // namespace

std::string deviceKey(const std::string &port) {
    const std::string device = unitDevice(port);
    char resolved[PATH_MAX];
    return ::realpath(device.c_str(), resolved) ? std::string(resolved) : device;
}

PlanResult planRun(const std::vector<std::string> &words, RunPlan &plan) {
    const auto parsed = parseRunArguments(words);
    if (!parsed) return refused(parsed.failure().why);
    const RunOptions &options = *parsed;

    auto recipeText = readFile(options.recipe, "the recipe " + options.recipe);
    if (!recipeText) return refused(recipeText.failure().why);
    plan.recipeText = std::move(*recipeText);
    plan.recipe = parseRecipe(plan.recipeText);
    if (!plan.recipe.ok()) return {PlanResult::Kind::Refused, plan.recipe.errors};
    plan.recipeSha256 = sha256Hex(plan.recipeText);

    std::vector<UnitEntry> given = options.units;
    for (const auto &file : options.unitsFiles) {
        const auto text = readFile(file, "the units file " + file);
        if (!text) return refused(text.failure().why);
        const auto units = parseUnitsFile(*text, file);
        if (!units) return refused(units.failure().why);
        given.insert(given.end(), units->begin(), units->end());
    }
    if (options.retest) {
        PlanResult retest = retestUnits(*options.retest, plan, given, plan.units);
        if (retest.kind != PlanResult::Kind::Ready) return retest;
    } else {
        plan.units = std::move(given);
    }
    if (plan.units.empty()) return refused("no unit: give --unit [NAME=]PORT or --units FILE");
    if (const auto distinct = checkDistinct(plan.units, deviceKey); !distinct) return refused(distinct.failure().why);

    plan.out = options.out;
    if (plan.out)
        if (const auto usable = checkOutFolder(*plan.out); !usable) return refused(usable.failure().why);
    plan.station = options.station.value_or(hostName());
    plan.unitTimeout = options.unitTimeout;
    return {};
}

std::string defaultRunFolder(std::chrono::system_clock::time_point now) {
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    return std::string("runs/") + stamp;
}

rslink::Result<std::string> createRunFolder(const RunPlan &plan, std::chrono::system_clock::time_point now) {
    std::error_code error;
    if (plan.out) {
        fs::create_directories(*plan.out, error);
        if (error)
            return rslink::Failure{error.value(), "cannot create the output folder " + *plan.out + ": " + error.message()};
        return *plan.out;
    }
    const std::string base = defaultRunFolder(now);
    fs::create_directories(fs::path(base).parent_path(), error);
    if (error) return rslink::Failure{error.value(), "cannot create the folder runs: " + error.message()};
    for (int n = 1;; ++n) {
        std::string dir = n == 1 ? base : base + "-" + std::to_string(n);
        if (::mkdir(dir.c_str(), 0777) == 0) return dir;
        if (errno != EEXIST) return rslink::Failure::ofErrno("cannot create the output folder " + dir);
    }
}

}  // namespace valdor
