// The colour channels of a 24-bit pixel, and the control's envelope methods reached by channel.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

class TKvPictura;

enum class TChannel { Red, Green, Blue };

// The channels in the order every per-pixel operation treats them.
inline constexpr std::array<TChannel, 3> AllChannels{TChannel::Red, TChannel::Green, TChannel::Blue};

struct TChannelInfo {
    const char* Name;  // "red", as options spell it
    const char* Title; // "Red", as menus and dialogs show it
    int ByteOffset;    // where the channel sits in a pixel of a 24-bit scan line
};

const TChannelInfo& ChannelInfo(TChannel Channel);
// The channel named "red", "green" or "blue"; nothing for any other text.
std::optional<TChannel> ChannelByName(std::string_view Name);

// The control's SetRedEnvelop, GetRedEnvelop and ApplyRedEnvelop (and green, blue) by channel.
void SetEnvelop(TKvPictura& Picture, TChannel Channel, uint8_t Index, double Percent);
double GetEnvelop(const TKvPictura& Picture, TChannel Channel, uint8_t Index);
void ApplyEnvelop(TKvPictura& Picture, TChannel Channel);
