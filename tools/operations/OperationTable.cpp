#include "OperationTable.h"

#include "EnvelopeLines.h"

#include <pictura/KvPictura.h>

#include <limits>

namespace {

constexpr double MaxInt32 = std::numeric_limits<int32_t>::max();
constexpr const char* ChannelMark = "{channel}";

void SetEntries(TKvPictura& Picture, const TOperation& Op) {
    for (const auto& [level, percent] : Op.Entries)
        SetEnvelop(Picture, *Op.Channel, uint8_t(level), percent);
}

void SetCurve(TKvPictura& Picture, const TOperation& Op) {
    std::vector<TEnvelopePoint> points;
    for (const auto& [level, percent] : Op.Entries)
        points.push_back({level, percent});
    const TEnvelopeTable table = EnvelopeLines(points);
    for (TChannel channel : AllChannels) {
        if (Op.Channel && *Op.Channel != channel) continue;
        for (int level = 0; level < 256; ++level)
            SetEnvelop(Picture, channel, uint8_t(level), table[size_t(level)]);
    }
}

const TParameterSpec Amount{"AMOUNT", "&Amount:", -128, 127, true, 50, " %", 127};
const TParameterSpec Level{"I", "&Level:", 0, 255, true, 0, "", 255};
const TParameterSpec Percent{"P", "&Gain:", 0, 100, false, 100, " %", 100};
// A radius past the picture's size is allowed (the window then covers whole columns), but a slider
// is of use only for the small ones.
constexpr int RadiusSliderMax = 100;

std::vector<TOperationSpec> MakeTable() {
    using K = TOperationKind;
    using S = TValueShape;
    return {
        {K::Invert,
         "invert",
         "Invert",
         S::None,
         {},
         "",
         "replace every channel c by 255 - c",
         false,
         true,
         [](TKvPictura& p, const TOperation&) { p.Invert(); },
         {"InvertAction", "&Invert", "Ctrl+I", "Replace every channel value c by 255 - c", 0}},
        {K::Brightness,
         "brightness",
         "Brightness",
         S::Numbers,
         {{"V", "&Brightness:", -100, 100, true, 25, " %", 100}},
         "20",
         "towards white (V > 0) or black (V < 0) by V percent",
         false,
         true,
         [](TKvPictura& p, const TOperation& op) { p.Brightness(op.Value); },
         {"BrightnessAction", "&Brightness...", "Ctrl+B", "Move the colours towards white or black", 0}},
        {K::GreyScale,
         "greyscale",
         "Greyscale",
         S::None,
         {},
         "",
         "luma 0.2125 R + 0.7154 G + 0.0721 B",
         false,
         true,
         [](TKvPictura& p, const TOperation&) { p.GreyScale(); },
         {"GreyScaleAction", "&Greyscale", "Ctrl+G", "Replace every pixel by its luma", 0}},
        {K::Blur,
         "blur",
         "Blur",
         S::Numbers,
         {Amount, {"RADIUS", "&Radius:", 0, MaxInt32, true, 2, " px", RadiusSliderMax}},
         "50,2",
         "move towards the mean of a square window",
         false,
         true,
         [](TKvPictura& p, const TOperation& op) { p.Blur(int8_t(op.Value), op.Radius); },
         {"BlurAction", "B&lur...", "", "Move every channel towards its mean over a square window", 1}},
        {K::Sharpen,
         "sharpen",
         "Sharpen",
         S::Numbers,
         {Amount, {"RADIUS", "&Radius:", 0, MaxInt32, true, 1, " px", RadiusSliderMax}},
         "50,1",
         "move away from the mean of a square window",
         false,
         true,
         [](TKvPictura& p, const TOperation& op) { p.Sharpen(int8_t(op.Value), op.Radius); },
         {"SharpenAction", "S&harpen...", "", "Move every channel away from its mean over a square window",
          1}},
        {K::SetEnvelop,
         "{channel}-envelop",
         "Envelope",
         S::Points,
         {Level, Percent},
         "0=50,255=100",
         "set {channel} gains: level I at P percent, each level alone",
         true,
         false,
         SetEntries,
         {}},
        {K::SetCurve,
         "{channel}-curve",
         "Curve",
         S::Points,
         {Level, Percent},
         "0=0,255=50",
         "set the whole {channel} table: straight lines between the points",
         true,
         false,
         SetCurve,
         {}},
        {K::SetCurve,
         "curve",
         "Curve",
         S::Points,
         {Level, Percent},
         "0=0,255=50",
         "the same curve for red, green and blue",
         false,
         false,
         SetCurve,
         {}},
        {K::SetEnvelop,
         "envelop-file",
         "Envelope file",
         S::ChannelFile,
         {Level, Percent},
         "red=gains.txt",
         "set a whole table from 256 percents 0..100 (CHANNEL red, green or blue)",
         false,
         false,
         SetEntries,
         {}},
        {K::ApplyEnvelop,
         "apply-{channel}-envelop",
         "Apply envelope",
         S::None,
         {},
         "",
         "apply the {channel} table",
         true,
         true,
         [](TKvPictura& p, const TOperation& op) { ApplyEnvelop(p, *op.Channel); },
         {}},
        {K::ApplyEnvelops,
         "apply-envelops",
         "Apply envelopes",
         S::None,
         {},
         "",
         "apply all three tables in one pass",
         false,
         true,
         [](TKvPictura& p, const TOperation&) { p.ApplyEnvelops(); },
         {"EnvelopesAction", "&Envelopes...", "Ctrl+E",
          "Edit the red, green and blue gain curves and apply them", 2}},
    };
}

} // namespace

std::string TOperationSpec::OptionName(std::optional<TChannel> Channel) const {
    std::string name = Name;
    const size_t mark = name.find(ChannelMark);
    if (mark != std::string::npos && Channel)
        name.replace(mark, std::string_view(ChannelMark).size(), ChannelInfo(*Channel).Name);
    return name;
}

std::string TOperationSpec::ValueSyntax() const {
    switch (Shape) {
    case TValueShape::None:
        return "";
    case TValueShape::Numbers: {
        std::string text;
        for (const TParameterSpec& parameter : Parameters)
            text += (text.empty() ? "" : ",") + std::string(parameter.Name);
        return text;
    }
    case TValueShape::Points:
        return "I=P[,I=P...]";
    case TValueShape::ChannelFile:
        return "CHANNEL=FILE";
    }
    return "";
}

const std::vector<TOperationSpec>& OperationTable() {
    static const std::vector<TOperationSpec> table = MakeTable();
    return table;
}

const TOperationSpec& OperationSpec(TOperationKind Kind) {
    for (const TOperationSpec& spec : OperationTable())
        if (spec.Kind == Kind) return spec;
    return OperationTable().front();
}

std::optional<std::pair<const TOperationSpec*, std::optional<TChannel>>>
FindOperation(std::string_view Name) {
    for (const TOperationSpec& spec : OperationTable()) {
        if (!spec.PerChannel) {
            if (Name == spec.Name) return std::pair{&spec, std::optional<TChannel>()};
            continue;
        }
        for (TChannel channel : AllChannels)
            if (Name == spec.OptionName(channel)) return std::pair{&spec, std::optional<TChannel>(channel)};
    }
    return std::nullopt;
}

void ApplyOperation(TKvPictura& Picture, const TOperation& Op) {
    const TOperationSpec& spec = Op.Spec ? *Op.Spec : OperationSpec(Op.Kind);
    spec.Apply(Picture, Op);
}
