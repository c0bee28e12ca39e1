#include "Operations.h"

#include <pictura/KvPictura.h>

namespace {

void SetEnvelop(TKvPictura& Picture, const TOperation& Op) {
    for (const auto& [index, percent] : Op.Entries) {
        switch (Op.Channel) {
        case 2:
            Picture.SetRedEnvelop(uint8_t(index), percent);
            break;
        case 1:
            Picture.SetGreenEnvelop(uint8_t(index), percent);
            break;
        default:
            Picture.SetBlueEnvelop(uint8_t(index), percent);
            break;
        }
    }
}

} // namespace

void ApplyOperation(TKvPictura& Picture, const TOperation& Op) {
    switch (Op.Kind) {
    case TOperationKind::Invert:
        Picture.Invert();
        break;
    case TOperationKind::Brightness:
        Picture.Brightness(Op.Value);
        break;
    case TOperationKind::GreyScale:
        Picture.GreyScale();
        break;
    case TOperationKind::Blur:
        Picture.Blur(int8_t(Op.Value), Op.Radius);
        break;
    case TOperationKind::Sharpen:
        Picture.Sharpen(int8_t(Op.Value), Op.Radius);
        break;
    case TOperationKind::SetEnvelop:
        SetEnvelop(Picture, Op);
        break;
    case TOperationKind::ApplyEnvelop:
        if (Op.Channel == 2)
            Picture.ApplyRedEnvelop();
        else if (Op.Channel == 1)
            Picture.ApplyGreenEnvelop();
        else
            Picture.ApplyBlueEnvelop();
        break;
    case TOperationKind::ApplyEnvelops:
        Picture.ApplyEnvelops();
        break;
    }
}

TOperation ParseOperation(const std::string& Name, const std::string& Argument) {
    std::vector<std::string> args{"--" + Name};
    if (!Argument.empty()) args.push_back(Argument);
    const bool takesValue = Name == "brightness" || Name == "blur" || Name == "sharpen" ||
                            Name == "envelop-file" ||
                            (Name.ends_with("-envelop") && Name.rfind("apply-", 0) != 0);
    if (takesValue && Argument.empty()) throw TUsageError(Name + " needs a value after '='");
    if (!takesValue && !Argument.empty()) throw TUsageError(Name + " takes no value");
    args.insert(args.end(), {"-o", "unused.bmp", "unused.bmp"});
    TCommandLine line = ParseCommandLine(args);
    if (line.Operations.size() != 1) throw TUsageError("\"" + Name + "\" is not an operation");
    return line.Operations.front();
}
