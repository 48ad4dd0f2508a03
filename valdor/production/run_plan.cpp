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

// The whole file; 0, or the system's error number.
int readFile(const std::string &path, std::string &text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = readWhole(fd, text);
    ::close(fd);
    return error;
}

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

PlanResult refused(std::string line) { return {PlanResult::Kind::Refused, {"valdor: " + std::move(line)}}; }

std::optional<std::string> checkOutFolder(const std::string &dir) {
    std::error_code error;
    const auto status = fs::status(dir, error);
    if (status.type() == fs::file_type::not_found) return std::nullopt;
    if (error) return "cannot use the output folder " + dir + ": " + error.message();
    if (status.type() != fs::file_type::directory) return "the output folder " + dir + " is not a folder";
    const bool empty = fs::is_empty(dir, error);
    if (error) return "cannot read the output folder " + dir + ": " + error.message();
    if (!empty) return "the output folder " + dir + " exists and is not empty";
    return std::nullopt;
}

// The units a retest runs: those of DIR that did not pass; `given` only
// moves them to new ports.
PlanResult retestUnits(const std::string &dir, const RunPlan &plan, const std::vector<UnitEntry> &given,
                       std::vector<UnitEntry> &units) {
    const std::string file = dir + "/summary.csv";
    std::string text;
    if (int error = readFile(file, text)) return refused("--retest: cannot read " + file + ": " + std::strerror(error));
    std::vector<SummaryRow> rows;
    if (auto why = readSummary(text, rows)) return refused("--retest: " + file + ": " + *why);
    if (auto why = unitsToRetest(rows, plan.recipeSha256, given, units)) return refused("--retest " + dir + ": " + *why);
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
    RunOptions options;
    if (auto error = parseRunArguments(words, options)) return refused(*error);

    if (int error = readFile(options.recipe, plan.recipeText))
        return refused("cannot read the recipe " + options.recipe + ": " + std::strerror(error));
    plan.recipe = parseRecipe(plan.recipeText);
    if (!plan.recipe.ok()) return {PlanResult::Kind::Refused, plan.recipe.errors};
    plan.recipeSha256 = sha256Hex(plan.recipeText);

    std::vector<UnitEntry> given = options.units;
    for (const auto &file : options.unitsFiles) {
        std::string text;
        if (int error = readFile(file, text))
            return refused("cannot read the units file " + file + ": " + std::strerror(error));
        if (auto error = parseUnitsFile(text, file, given)) return refused(*error);
    }
    if (options.retest) {
        PlanResult retest = retestUnits(*options.retest, plan, given, plan.units);
        if (retest.kind != PlanResult::Kind::Ready) return retest;
    } else {
        plan.units = std::move(given);
    }
    if (plan.units.empty()) return refused("no unit: give --unit [NAME=]PORT or --units FILE");
    if (auto error = findDuplicate(plan.units, deviceKey)) return refused(*error);

    plan.out = options.out;
    if (plan.out)
        if (auto error = checkOutFolder(*plan.out)) return refused(*error);
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

std::optional<std::string> createRunFolder(const RunPlan &plan, std::chrono::system_clock::time_point now,
                                           std::string &dir) {
    std::error_code error;
    if (plan.out) {
        dir = *plan.out;
        fs::create_directories(dir, error);
        if (error) return "cannot create the output folder " + dir + ": " + error.message();
        return std::nullopt;
    }
    const std::string base = defaultRunFolder(now);
    fs::create_directories(fs::path(base).parent_path(), error);
    if (error) return "cannot create the folder runs: " + error.message();
    for (int n = 1;; ++n) {
        dir = n == 1 ? base : base + "-" + std::to_string(n);
        if (::mkdir(dir.c_str(), 0777) == 0) return std::nullopt;
        if (errno != EEXIST) return "cannot create the output folder " + dir + ": " + std::strerror(errno);
    }
}

}  // namespace valdor
