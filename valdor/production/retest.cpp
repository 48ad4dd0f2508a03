#include "valdor/production/retest.h"

#include <algorithm>

#include "valdor/production/result.h"

namespace valdor {

rslink::Result<std::vector<std::vector<std::string>>> parseCsv(std::string_view text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, rowStarted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        rowStarted = true;
        if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r') ++i;
            row.push_back(std::move(field));
            field.clear();
            rows.push_back(std::move(row));
            row.clear();
            rowStarted = false;
        } else {
            field += c;
        }
    }
    if (quoted) return rslink::Failure{0, "a quoted field is not closed"};
    if (rowStarted) {
        row.push_back(std::move(field));
        rows.push_back(std::move(row));
    }
    return rows;
}

rslink::Result<std::vector<SummaryRow>> readSummary(std::string_view text) {
    auto table = parseCsv(text);
    if (!table) return table.failure();
    if (table->empty()) return rslink::Failure{0, "it is empty"};
    const auto &header = table->front();
    auto column = [&](const char *name) -> std::optional<size_t> {
        auto at = std::find(header.begin(), header.end(), name);
        if (at == header.end()) return std::nullopt;
        return static_cast<size_t>(at - header.begin());
    };
    const auto unit = column("unit"), port = column("port"), outcome = column("outcome"),
               sha = column("recipe_sha256");
    if (!unit || !port || !outcome || !sha) return rslink::Failure{0, "its header lacks unit, port, outcome or recipe_sha256"};
    std::vector<SummaryRow> rows;
    for (size_t r = 1; r < table->size(); ++r) {
        const auto &fields = (*table)[r];
        if (fields.size() != header.size())
            return rslink::Failure{0, "row " + std::to_string(r + 1) + " has " + std::to_string(fields.size()) +
                                          " fields, not " + std::to_string(header.size())};
        rows.push_back({fields[*unit], fields[*port], fields[*outcome], fields[*sha]});
    }
    return rows;
}

rslink::Result<std::vector<UnitEntry>> unitsToRetest(const std::vector<SummaryRow> &rows,
                                                     std::string_view recipeSha256,
                                                     const std::vector<UnitEntry> &newPorts) {
    for (const auto &row : rows)
        if (row.recipeSha256 != recipeSha256)
            return rslink::Failure{0, "RECIPE is not the recipe that run ran (its SHA-256 is " +
                                          std::string(recipeSha256) + ", the run's " + row.recipeSha256 + ")"};
    std::vector<UnitEntry> units;
    for (const auto &row : rows)
        if (row.outcome != outcomeText(Outcome::Pass)) units.push_back({row.unit, row.port, true});
    if (units.empty()) return units;
    for (const auto &given : newPorts) {
        auto at = std::find_if(units.begin(), units.end(), [&](const UnitEntry &u) { return u.name == given.name; });
        if (at == units.end()) return rslink::Failure{0, "unit " + given.name + " is not one of the units to retest"};
        at->port = given.port;
    }
    return units;
}

}  // namespace valdor
