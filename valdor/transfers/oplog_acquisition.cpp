#include "valdor/transfers/oplog_acquisition.h"

#include "valdor/transfers/oplog_procedure.h"
#include "valdor/transfers/worker_link.h"

namespace valdor {

struct OplogAcquisition::State {
    State(Panel &panel, Host &host, SendThread &worker) : link(worker), procedure(panel, host, link) {}
    SendThreadLink link;
    OplogProcedure procedure;
};

OplogAcquisition::OplogAcquisition(Panel &panel, Host &host, SendThread &worker)
    : state_(std::make_unique<State>(panel, host, worker)) {}

OplogAcquisition::~OplogAcquisition() = default;

void OplogAcquisition::start() { state_->procedure.start(); }
void OplogAcquisition::stopAcquiring() { state_->procedure.stopAcquiring(); }
bool OplogAcquisition::underWay() const { return state_->procedure.underWay(); }

std::optional<std::pair<uint8_t, uint8_t>> OplogAcquisition::beginRequest() {
    return state_->procedure.beginRequest();
}

std::optional<std::pair<uint8_t, uint8_t>> OplogAcquisition::onResponse(std::span<const uint8_t> text) {
    return state_->procedure.onResponse(text);
}

void OplogAcquisition::abort() { state_->procedure.abort(); }

}  // namespace valdor
