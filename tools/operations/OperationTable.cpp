#include "OperationTable.h"

#include "EnvelopeLines.h"

#include <pictura/KvPictura.h>

#include <limits>
#include <stdexcept>

namespace {

constexpr double MaxInt32 = std::numeric_limits<int32_t>::max();
constexpr const char* ChannelMark = "{channel}";

void SetEntries(TKvPictura& Picture, const TOperation& Op) {
    for (const auto& [level, percent] : Op.Points())
        SetEnvelop(Picture, *Op.Channel, uint8_t(level), percent);
}

void SetCurve(TKvPictura& Picture, const TOperation& Op) {
    std::vector<TEnvelopePoint> points;
    for (const auto& [level, percent] : Op.Points())
        points.push_back({level, percent});
    const TEnvelopeTable table = EnvelopeLines(points);
    for (TChannel channel : AllChannels) {
        if (Op.Channel && *Op.Channel != channel) continue;
        for (int level = 0; level < 256; ++level)
            SetEnvelop(Picture, channel, uint8_t(level), table[size_t(level)]);
    }
}

// The value at Index as the control's whole number (the parser keeps them within their ranges).
int32_t Whole(const TOperation& Op, size_t Index) {
    return int32_t(Op.Values.at(Index));
}

const TParameterSpec Amount{"AMOUNT", "&Amount:", -128, 127, true, 50, " %", 127};
const TParameterSpec Level{"I", "&Level:", 0, 255, true, 0, "", 255};
const TParameterSpec Percent{"P", "&Gain:", 0, 100, false, 100, " %", 100};
// A radius past the picture's size is allowed (the window then covers whole columns), but a slider
// is of use only for the small ones.
constexpr int RadiusSliderMax = 100;

TParameterSpec Radius(int Default) {
    return {"RADIUS", "&Radius:", 0, MaxInt32, true, Default, " px", RadiusSliderMax};
}

std::vector<TOperationSpec> MakeTable() {
    using S = TValueShape;
    return {
        {.Name = "invert",
         .Title = "Invert",
         .Help = "replace every channel c by 255 - c",
         .Apply = [](TKvPictura& p, const TOperation&) { p.Invert(); },
         .Menu = {"InvertAction", "&Invert", "Ctrl+I", "Replace every channel value c by 255 - c", 0}},
        {.Name = "brightness",
         .Title = "Brightness",
         .Shape = S::Numbers,
         .Parameters = {{"V", "&Brightness:", -100, 100, true, 25, " %", 100}},
         .Example = "20",
         .Help = "towards white (V > 0) or black (V < 0) by V percent",
         .Apply = [](TKvPictura& p, const TOperation& op) { p.Brightness(Whole(op, 0)); },
         .Menu = {"BrightnessAction", "&Brightness...", "Ctrl+B", "Move the colours towards white or black",
                  0}},
        {.Name = "greyscale",
         .Title = "Greyscale",
         .Help = "luma 0.2125 R + 0.7154 G + 0.0721 B",
         .Apply = [](TKvPictura& p, const TOperation&) { p.GreyScale(); },
         .Menu = {"GreyScaleAction", "&Greyscale", "Ctrl+G", "Replace every pixel by its luma", 0}},
        {.Name = "blur",
         .Title = "Blur",
         .Shape = S::Numbers,
         .Parameters = {Amount, Radius(2)},
         .Example = "50,2",
         .Help = "move towards the mean of a square window",
         .Apply = [](TKvPictura& p, const TOperation& op) { p.Blur(int8_t(Whole(op, 0)), Whole(op, 1)); },
         .Menu = {"BlurAction", "B&lur...", "", "Move every channel towards its mean over a square window",
                  1}},
        {.Name = "sharpen",
         .Title = "Sharpen",
         .Shape = S::Numbers,
         .Parameters = {Amount, Radius(1)},
         .Example = "50,1",
         .Help = "move away from the mean of a square window",
         .Apply = [](TKvPictura& p, const TOperation& op) { p.Sharpen(int8_t(Whole(op, 0)), Whole(op, 1)); },
         .Menu = {"SharpenAction", "S&harpen...", "",
                  "Move every channel away from its mean over a square window", 1}},
        {.Name = "{channel}-envelop",
         .Title = "Envelope",
         .Shape = S::Points,
         .Parameters = {Level, Percent},
         .Example = "0=50,255=100",
         .Help = "set {channel} gains: level I at P percent, each level alone",
         .PerChannel = true,
         .ChangesPicture = false,
         .Apply = SetEntries},
        {.Name = "{channel}-curve",
         .Title = "Curve",
         .Shape = S::Points,
         .Parameters = {Level, Percent},
         .Example = "0=0,255=50",
         .Help = "set the whole {channel} table: straight lines between the points",
         .PerChannel = true,
         .ChangesPicture = false,
         .RisingLevels = true,
         .Apply = SetCurve},
        {.Name = "curve",
         .Title = "Curve",
         .Shape = S::Points,
         .Parameters = {Level, Percent},
         .Example = "0=0,255=50",
         .Help = "the same curve for red, green and blue",
         .ChangesPicture = false,
         .RisingLevels = true,
         .Apply = SetCurve},
        {.Name = "envelop-file",
         .Title = "Envelope file",
         .Shape = S::ChannelFile,
         .Parameters = {Level, Percent},
         .Example = "red=gains.txt",
         .Help = "set a whole table from 256 percents 0..100 (CHANNEL red, green or blue)",
         .ChangesPicture = false,
         .Apply = SetEntries},
        {.Name = "apply-{channel}-envelop",
         .Title = "Apply envelope",
         .Help = "apply the {channel} table",
         .PerChannel = true,
         .AppliesTables = true,
         .Apply = [](TKvPictura& p, const TOperation& op) { ApplyEnvelop(p, *op.Channel); }},
        {.Name = "apply-envelops",
         .Title = "Apply envelopes",
         .Help = "apply all three tables in one pass",
         .AppliesTables = true,
         .Apply = [](TKvPictura& p, const TOperation&) { p.ApplyEnvelops(); },
         .Menu = {"EnvelopesAction", "&Envelopes...", "Ctrl+E",
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

const TOperationSpec& OperationSpec(std::string_view Name) {
    for (const TOperationSpec& spec : OperationTable())
        if (Name == spec.Name) return spec;
    throw std::logic_error("no operation is named " + std::string(Name));
}

std::vector<std::pair<int, double>> TOperation::Points() const {
    std::vector<std::pair<int, double>> points;
    for (size_t i = 0; i + 1 < Values.size(); i += 2)
        points.emplace_back(int(Values[i]), Values[i + 1]);
    return points;
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
    Op.Spec->Apply(Picture, Op);
}
