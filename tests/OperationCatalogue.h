// The catalogue of the control's operations as the tests and the fuzz target exercise them: for each row of
// the table of operations, how to make random arguments, what the straightforward model does with them,
// and what the control's progress reports call it. The differential test, the progress test and the fuzz
// target run every entry through the table's call, so an operation joins all three with one entry here.
#pragma once

#include "FiltersModel.h"
#include "OperationTable.h"
#include "PointOpsModel.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Random numbers: a test's generator or the fuzz target's input.
using TCatalogueRandom = std::function<uint32_t()>;

// The model's side of the control: its area of the picture as rows, and the gain tables by byte offset
// (0 blue, 1 green, 2 red).
struct TModelArea {
    uint8_t* const* Rows;
    int Width;
    int Height;
    double (*Gains)[256];
};

struct TCatalogueEntry {
    const char* Operation; // the table row's name
    // The operation's values, in the row's order; arguments outside the tool's ranges are welcome where
    // the control takes them (it clamps).
    std::vector<double> (*Values)(const TCatalogueRandom& Random);
    // What the model makes of the operation: the area's pixels or the gain tables.
    void (*Model)(const TModelArea& Area, const TOperation& Op);
    // The name the control's progress reports give ("{Channel}" for the channel's title); empty for rows
    // that touch no pixel.
    const char* Progress;
};

namespace Catalogue {

// Mostly radii within the test pictures, now and then far beyond them.
inline double Radius(const TCatalogueRandom& Random) {
    const uint32_t r = Random();
    return r % 16 ? double(r % 45) : double((r >> 4) % 5000);
}

inline double Percent(const TCatalogueRandom& Random) {
    return double(Random() % 12000) / 100.0 - 10.0; // -10..110: the control clamps to 0..100
}

inline int ByteOffset(const TOperation& Op) {
    return ChannelInfo(*Op.Channel).ByteOffset;
}

inline KvModel::TFilterKind Filter(const TOperation& Op) {
    return std::string_view(Op.Spec->Name) == "sharpen" ? KvModel::TFilterKind::Sharpen
                                                        : KvModel::TFilterKind::Blur;
}

inline std::vector<double> Filtering(const TCatalogueRandom& Random) {
    return {double(int8_t(Random())), Radius(Random)};
}

inline void ModelFilter(const TModelArea& A, const TOperation& Op) {
    KvModel::ModelFilterArea(A.Rows, A.Width, A.Height, int8_t(Op.Values[0]), int32_t(Op.Values[1]),
                             Filter(Op));
}

} // namespace Catalogue

inline const std::vector<TCatalogueEntry>& OperationCatalogue() {
    using TRandom = TCatalogueRandom;
    using TArea = TModelArea;
    static const std::vector<TCatalogueEntry> entries{
        {"invert", [](const TRandom&) { return std::vector<double>{}; },
         [](const TArea& A, const TOperation&) { KvModel::ModelInvert(A.Rows, A.Width, A.Height); },
         "Invert"},
        {"brightness",
         [](const TRandom& Random) { return std::vector<double>{double(int(Random() % 261) - 130)}; },
         [](const TArea& A, const TOperation& Op) {
             KvModel::ModelBrightness(A.Rows, A.Width, A.Height, int32_t(Op.Values[0]));
         },
         "Brightness"},
        {"greyscale", [](const TRandom&) { return std::vector<double>{}; },
         [](const TArea& A, const TOperation&) { KvModel::ModelGreyScale(A.Rows, A.Width, A.Height); },
         "Greyscale"},
        {"blur", Catalogue::Filtering, Catalogue::ModelFilter, "Blur"},
        {"sharpen", Catalogue::Filtering, Catalogue::ModelFilter, "Sharpen"},
        {"{channel}-envelop",
         [](const TRandom& Random) {
             std::vector<double> values;
             for (int i = int(Random() % 40); i >= 0; --i)
                 values.insert(values.end(), {double(uint8_t(Random())), Catalogue::Percent(Random)});
             return values;
         },
         [](const TArea& A, const TOperation& Op) {
             for (const auto& [level, percent] : Op.Points())
                 A.Gains[Catalogue::ByteOffset(Op)][level] = KvModel::ModelGainFromPercent(percent);
         },
         ""},
        {"apply-{channel}-envelop", [](const TRandom&) { return std::vector<double>{}; },
         [](const TArea& A, const TOperation& Op) {
             const int offset = Catalogue::ByteOffset(Op);
             KvModel::ModelApplyEnvelop(A.Rows, A.Width, A.Height, offset, A.Gains[offset]);
         },
         "{Channel} envelope"},
        {"apply-envelops", [](const TRandom&) { return std::vector<double>{}; },
         [](const TArea& A, const TOperation&) {
             KvModel::ModelApplyEnvelops(A.Rows, A.Width, A.Height, A.Gains[2], A.Gains[1], A.Gains[0]);
         },
         "Envelopes"},
    };
    return entries;
}

// An operation of Entry's row with random values, for a random channel where the row has one.
inline TOperation CatalogueOperation(const TCatalogueEntry& Entry, const TCatalogueRandom& Random) {
    TOperation op{.Spec = &OperationSpec(Entry.Operation), .Name = Entry.Operation};
    if (op.Spec->PerChannel) op.Channel = AllChannels[Random() % 3];
    op.Values = Entry.Values(Random);
    return op;
}

// The name Entry's progress reports give for Op.
inline std::string CatalogueProgress(const TCatalogueEntry& Entry, const TOperation& Op) {
    std::string name = Entry.Progress;
    if (const size_t mark = name.find("{Channel}"); mark != std::string::npos)
        name.replace(mark, 9, ChannelInfo(*Op.Channel).Title);
    return name;
}
