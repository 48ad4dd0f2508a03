// A request built from a snapshot must be the request of the parameters at
// the moment the snapshot was taken, whatever the operator changes after.
#include "valdor/panel/parameter_snapshot.h"

#include <gtest/gtest.h>

#include <vector>

#include "valdor/engine/commands.h"
#include "valdor/engine/request_builder.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/panel/param_tables.h"

namespace valdor {
namespace {

using Bytes = std::vector<uint8_t>;

// Sets every parameter a request can read from `seed`: alternate boxes,
// one radio of each group, each list at a position and the committed text.
void setParameters(Panel &panel, int seed) {
    for (int id = ctl::Enhanced; id <= ctl::CountOrderReversing; ++id) panel.setChecked(id, (id + seed) % 2 == 0);
    panel.setChecked(ctl::MeasuredInf, seed % 2 == 0);
    panel.setChecked(ctl::TransportFirst + seed % (ctl::TransportLast - ctl::TransportFirst + 1), true);
    panel.setChecked(ctl::RetrievalFirst + seed % (ctl::RetrievalLast - ctl::RetrievalFirst + 1), true);
    for (int combo : allCombos()) {
        const int count = static_cast<int>(tableFor(combo)->items.size());
        panel.setSelection(combo, (seed + combo) % count);
    }
    panel.setText(ctl::MessageText, seed % 2 ? "ODD MESSAGE" : "even");
    panel.commitMessageText();
}

Bytes requestFrom(int command, const Panel &panel) {
    Bytes buffer(kRequestBufferSize, 0);
    buffer.resize(buildRequest(command, panel, buffer.data(), LocalTime{2026, 1, 2, 3, 4, 5, 6}));
    return buffer;
}

class SnapshotRequests : public ::testing::TestWithParam<int> {};

TEST_P(SnapshotRequests, AreThoseOfTheMomentItWasTaken) {
    const int before = GetParam(), after = GetParam() + 1;
    MemoryPanel live, reference;
    setParameters(live, before);
    setParameters(reference, before);
    const ParameterSnapshot snapshot(live);
    setParameters(live, after);
    int differs = 0;
    for (int command = CMD_STATUS_READ; command <= CMD_LOG_WITH_MSG; ++command) {
        EXPECT_EQ(requestFrom(command, snapshot), requestFrom(command, reference)) << "command " << command;
        differs += requestFrom(command, live) != requestFrom(command, reference);
    }
    // The change must reach the requests, or the comparison proves nothing.
    EXPECT_GT(differs, 8);
    for (bool front : {false, true})
        for (bool watch : {false, true}) {
            Bytes fromSnapshot(kRequestBufferSize), fromReference(kRequestBufferSize);
            fromSnapshot.resize(buildSequenceTransport(snapshot, front, watch, fromSnapshot.data()));
            fromReference.resize(buildSequenceTransport(reference, front, watch, fromReference.data()));
            EXPECT_EQ(fromSnapshot, fromReference) << "front " << front << " watch " << watch;
        }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SnapshotRequests, ::testing::Values(0, 1, 2, 5));

}  // namespace
}  // namespace valdor
