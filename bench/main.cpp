// valdor_bench: how fast and how frugal the console is on the line, printed
// as one table.  Not a test: it measures, and says which targets were met.
//
//   valdor_bench            everything, with a 1 MiB download paced at 9600
//                           baud (about 20 minutes of line time)
//   valdor_bench --quick    the paced download with 64 KiB instead
//   valdor_bench --only X   only phase X (may be given again): exchanges,
//                           floor, idle, silent, closing, download, paced,
//                           append, window, capture, memory, relay, production,
//                           network
#include <cstdio>
#include <cstring>
#include <exception>
#include <set>
#include <string>

#include "measure.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kQuickPaced = 64 * 1024;

void usage() {
    std::puts("usage: valdor_bench [--quick] [--only exchanges|floor|idle|silent|closing|download|paced|append|window|capture|memory|relay|production|network]");
}

}  // namespace

int main(int argc, char **argv) {
    bool quick = false;
    std::set<std::string> only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick")) {
            quick = true;
        } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
            only.insert(argv[++i]);
        } else {
            usage();
            return 2;
        }
    }
    auto wanted = [&](const char *phase) { return only.empty() || only.count(phase) != 0; };
    const size_t paced = quick ? kQuickPaced : kMiB;
    if (wanted("paced"))
        std::fprintf(stderr, "valdor_bench: the paced download moves %zu KiB at 9600 baud (%s)\n", paced / 1024,
                     quick ? "--quick" : "about 20 minutes; --quick takes 64 KiB");

    bench::Table table;
    try {
        if (wanted("exchanges")) bench::measureExchanges(table, 5000);
        if (wanted("floor")) bench::measurePtyFloor(table, 20000);
        if (wanted("idle")) bench::measureIdle(table, 10);
        if (wanted("silent")) bench::measureSilentUnit(table);
        if (wanted("closing")) bench::measureCloseOnSilentUnit(table);
        if (wanted("download")) bench::measureDownload(table, kMiB, false);
        if (wanted("paced")) bench::measureDownload(table, paced, true);
        if (wanted("capture")) bench::measureCapture(table, VALDOR_PATH);
        if (wanted("relay")) bench::measureRelay(table, VALDOR_PATH, 4000);
        if (wanted("production")) bench::measureProduction(table);
        if (wanted("network")) bench::measureNetwork(table, 2000, 10);
        if (wanted("append") && !bench::measureAppend(table, argc, argv))
            table.add({"AppendMessage", "skipped", "", "built without Qt"});
        if (wanted("window") && !bench::measureWindow(table, 3000, argc, argv))
            table.add({"The window's repeat mode", "skipped", "", "built without Qt"});
        if (wanted("memory")) {
            bench::measureMemoryHeadless(table);
            if (!bench::measureMemoryWindow(table, argc, argv))
                table.add({"window: resident memory", "skipped", "", "built without Qt"});
        }
    } catch (const std::exception &e) {
        table.print();
        std::fprintf(stderr, "valdor_bench: %s\n", e.what());
        return 1;
    }
    table.print();
    return 0;
}
