// Writes the Wireshark dissector: its template with the request names and
// the error catalogue filled in from the console's own tables, so that the
// dissector cannot come to show other names or texts than the console.
//   write_dissector TEMPLATE OUTPUT
// Each of the lines "@REQUEST_NAMES@" and "@ERROR_CATALOGUE@" in the
// template becomes one table row a line.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "valdor/records/decode.h"
#include "valdor/responses/error_catalogue.h"

namespace {

constexpr std::string_view kRequestNames = "@REQUEST_NAMES@";
constexpr std::string_view kErrorCatalogue = "@ERROR_CATALOGUE@";

// A Lua string literal holding `text`.
std::string luaString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\%03u", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void writeRequestNames(std::ostream &out) {
    for (const auto &request : valdor::records::requestNames()) {
        char code[16];
        std::snprintf(code, sizeof code, "[0x%02X]", static_cast<unsigned>(request.code));
        out << "    " << code << " = " << luaString(request.name) << ",\n";
    }
}

void writeErrorCatalogue(std::ostream &out) {
    for (const auto &entry : valdor::errorCatalogue()) {
        char head[32];
        std::snprintf(head, sizeof head, "{%u, 0x%04X, ", static_cast<unsigned>(entry.kind),
                      static_cast<unsigned>(entry.code));
        out << "    " << head << luaString(entry.text) << "},\n";
    }
}

int fail(const std::string &why) {
    std::fprintf(stderr, "write_dissector: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) return fail("usage: write_dissector TEMPLATE OUTPUT");
    std::ifstream in(argv[1]);
    if (!in) return fail(std::string("cannot read ") + argv[1]);
    std::ostringstream out;
    int requestTables = 0, errorTables = 0;
    for (std::string line; std::getline(in, line);) {
        if (line == kRequestNames) {
            writeRequestNames(out);
            ++requestTables;
        } else if (line == kErrorCatalogue) {
            writeErrorCatalogue(out);
            ++errorTables;
        } else {
            out << line << '\n';
        }
    }
    if (requestTables != 1 || errorTables != 1)
        return fail(std::string(argv[1]) + " must hold each of " + std::string(kRequestNames) + " and " +
                    std::string(kErrorCatalogue) + " on a line of its own, once");
    // Written aside and renamed, so that a failed run leaves no half dissector.
    const std::string target = argv[2], partial = target + ".part";
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file << out.str();
    file.close();
    if (!file || std::rename(partial.c_str(), target.c_str()) != 0) {
        std::remove(partial.c_str());
        return fail("cannot write " + target);
    }
    return 0;
}
