#include "valdor/transfers/oplog_procedure.h"

#include "valdor/panel/controls.h"
#include "valdor/panel/host.h"
#include "valdor/panel/panel.h"
#include "valdor/engine/commands.h"
#include "valdor/transfers/oplog_report.h"
#include "valdor/transfers/worker_link.h"

namespace valdor {

namespace {


const FileFilter kFilters[] = {
    {"Operational Log files(*.txt)", "*.txt"},
    {"All files(*.*)", "*.*"},
};

constexpr char kCancel[] = "Operational Log Cancel";
constexpr char kNormalEnd[] = "Operational Log NORMAL END";
constexpr char kErrResponse[] = "Operational Log ABNORMAL END -> ERR RESPONSE";
constexpr char kProgramError[] = "Operational Log Program ERROR END";
constexpr char kWhileDownloading[] = "Operational Log START ERROR(a download is running)";
constexpr char kWhileAcquiring[] =
    "Operational Log START ERROR(an acquisition is running; press Operational Log to stop it)";

const OplogSection *sectionInfo(uint8_t section) {
    return section < std::size(kOplogSections) ? &kOplogSections[section] : nullptr;
}

}  // namespace

OplogProcedure::OplogProcedure(Panel &panel, Host &host, WorkerLink &worker)
    : panel_(panel), host_(host), worker_(worker) {}

OplogProcedure::~OplogProcedure() = default;

// ---- window thread ---------------------------------------------------------

void OplogProcedure::start() {
    if (refused()) return;
    auto path = host_.chooseSaveFile(kFilters, "*.txt");
    if (!path) {
        panel_.appendMessage(kCancel);
        return;
    }
    std::string name = bareName(*path);
    // A report that "Operational Log" stopped is closed at the worker's next
    // command 13.  Close it now if that has not happened yet, so that no
    // write of the old acquisition can land in the file created below (it
    // may be the same file).
    if (!onWorker([this] { reset(); })) {
        panel_.appendMessage(kRefusedMessage);
        return;
    }
    TransferFile report;
    if (const auto created = report.createForWriting(*path); !created) {
        panel_.appendMessage(formatMessage("FILE OPEN ERROR(FILENAME=%s CODE=0x%08x)", name.c_str(),
                                           static_cast<unsigned>(created.failure().error)));
        return;
    }
    if (!onWorker([&] { begin(std::move(report), std::move(name)); })) panel_.appendMessage(kRefusedMessage);
}

void OplogProcedure::stopAcquiring() { acquiring_ = false; }

bool OplogProcedure::refused() {
    // The worker gives every answer to a running download first, and one
    // report takes one acquisition: the operator stops it with "Operational
    // Log".
    if (worker_.downloadUnderWay()) {
        panel_.appendMessage(kWhileDownloading);
        return true;
    }
    if (acquiring_) {
        panel_.appendMessage(kWhileAcquiring);
        return true;
    }
    return false;
}

bool OplogProcedure::onWorker(const std::function<void()> &fn) {
    bool ran = false;
    host_.runBlocking([&] { ran = worker_.runOnWorker(fn); });
    return ran;
}

// ---- worker -----------------------------------------------------------------

void OplogProcedure::begin(TransferFile report, std::string name) {
    report_ = std::move(report);
    name_ = std::move(name);
    section_ = 0;
    block_ = 0;
    lineNumber_ = 1;
    writeError_ = 0;
    acquiring_ = true;
    // A refused post has appended its message.
    if (!worker_.postCommand(CMD_OPERATIONAL_LOG)) reset();
}

std::optional<std::pair<uint8_t, uint8_t>> OplogProcedure::beginRequest() {
    if (!acquiring_) {
        // The plain "Operational Log": a report it stopped is closed here,
        // between two messages, never in the middle of a write.
        reset();
        return std::nullopt;
    }
    if (!panel_.checked(ctl::MeasuredInf)) writeText(kMeasuredHeading);
    return std::make_pair(section_, block_);
}

std::optional<std::pair<uint8_t, uint8_t>> OplogProcedure::onResponse(std::span<const uint8_t> text) {
    // Stopped by "Operational Log" while this answer was on its way.
    if (!acquiring_) return std::nullopt;
    if (text.empty() || text[0] != kPositiveResponse) {
        finish(kErrResponse);
        return std::nullopt;
    }
    writeRecords(text);
    if (endedByWriteError() || !advance() || endedByWriteError()) return std::nullopt;
    // "Operational Log" may have stopped it meanwhile; the report then waits
    // for that button's command 13 to be closed.
    if (!acquiring_) return std::nullopt;
    return std::make_pair(section_, block_);
}

void OplogProcedure::writeRecords(std::span<const uint8_t> answer) {
    const OplogSection *section = sectionInfo(section_);
    std::string lines;
    auto data = recordData(answer);
    if (section && section->format == LineFormat::Numbered)
        appendNumberedLines(lines, data, lineNumber_);
    else
        appendSixteenByteLines(lines, data);
    writeText(lines);
}

// Moves to the next block, or to the next section with its heading, or ends.
// False when the acquisition has ended.
bool OplogProcedure::advance() {
    const OplogSection *section = sectionInfo(section_);
    if (!section) {
        finish(kProgramError);
        return false;
    }
    if (block_ < section->lastBlock) {
        ++block_;
        return true;
    }
    bool measuredOnly = section->endsWhenMeasuredOnly && panel_.checked(ctl::MeasuredInf);
    if (measuredOnly || !section->nextHeading) {
        finish(kNormalEnd);
        return false;
    }
    writeText(section->nextHeading);
    ++section_;
    block_ = 0;
    lineNumber_ = 1;
    return true;
}

void OplogProcedure::writeText(std::string_view text) {
    if (writeError_ != 0 || text.empty()) return;
    if (const auto written = report_.write(text.data(), text.size()); !written)
        writeError_ = written.failure().error;
}

bool OplogProcedure::endedByWriteError() {
    if (writeError_ == 0) return false;
    finish(formatMessage("Operational Log ABNORMAL END -> FILE WRITE ERROR(FILENAME=%s CODE=0x%08x)",
                         name_.c_str(), static_cast<unsigned>(writeError_)));
    return true;
}

void OplogProcedure::finish(const std::string &message) {
    reset();
    panel_.appendMessage(message);
}

void OplogProcedure::reset() {
    report_.close();
    section_ = 0;
    block_ = 0;
    lineNumber_ = 1;
    writeError_ = 0;
    acquiring_ = false;
}

bool OplogProcedure::underWay() const { return acquiring_.load(); }

void OplogProcedure::abort() { reset(); }

}  // namespace valdor
