#include "valdor/transfers/program_download.h"

#include "valdor/transfers/download_procedure.h"
#include "valdor/transfers/worker_link.h"

namespace valdor {

struct ProgramDownload::State {
    State(Panel &panel, Host &host, SendThread &worker) : link(worker), procedure(panel, host, link) {}
    SendThreadLink link;
    DownloadProcedure procedure;
};

ProgramDownload::ProgramDownload(Panel &panel, Host &host, SendThread &worker)
    : state_(std::make_unique<State>(panel, host, worker)) {}

ProgramDownload::~ProgramDownload() = default;

void ProgramDownload::start() { state_->procedure.start(); }
bool ProgramDownload::underWay() const { return state_->procedure.underWay(); }
size_t ProgramDownload::takeBlock(uint8_t *out, size_t cap) { return state_->procedure.takeBlock(out, cap); }
void ProgramDownload::onResponse(uint8_t responseCode) { state_->procedure.onResponse(responseCode); }
void ProgramDownload::abort() { state_->procedure.abort(); }

}  // namespace valdor
