#include "Channel.h"

#include <pictura/KvPictura.h>

namespace {

const TChannelInfo Infos[3] = {{"red", "Red", 2}, {"green", "Green", 1}, {"blue", "Blue", 0}};

} // namespace

const TChannelInfo& ChannelInfo(TChannel Channel) {
    return Infos[int(Channel)];
}

std::optional<TChannel> ChannelByName(std::string_view Name) {
    for (TChannel channel : AllChannels)
        if (Name == ChannelInfo(channel).Name) return channel;
    return std::nullopt;
}

void SetEnvelop(TKvPictura& Picture, TChannel Channel, uint8_t Index, double Percent) {
    switch (Channel) {
    case TChannel::Red:
        return Picture.SetRedEnvelop(Index, Percent);
    case TChannel::Green:
        return Picture.SetGreenEnvelop(Index, Percent);
    case TChannel::Blue:
        return Picture.SetBlueEnvelop(Index, Percent);
    }
}

double GetEnvelop(const TKvPictura& Picture, TChannel Channel, uint8_t Index) {
    switch (Channel) {
    case TChannel::Red:
        return Picture.GetRedEnvelop(Index);
    case TChannel::Green:
        return Picture.GetGreenEnvelop(Index);
    case TChannel::Blue:
        break;
    }
    return Picture.GetBlueEnvelop(Index);
}

void ApplyEnvelop(TKvPictura& Picture, TChannel Channel) {
    switch (Channel) {
    case TChannel::Red:
        return Picture.ApplyRedEnvelop();
    case TChannel::Green:
        return Picture.ApplyGreenEnvelop();
    case TChannel::Blue:
        return Picture.ApplyBlueEnvelop();
    }
}
