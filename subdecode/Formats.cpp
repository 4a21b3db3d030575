#include "subdecode/Formats.h"

#include "subdecode/PacketFormat.h"

namespace Qor {

namespace {

template <typename Entry, int N>
const Entry* findCode(const Entry (&entries)[N], const char* text)
{
    if (!text)
        return nullptr;
    for (const Entry& entry : entries)
        if (sameCode(text, entry.code))
            return &entry;
    return nullptr;
}

} // namespace

bool sameCode(const char* text, const char* code)
{
    for (int i = 0; i < 5; ++i) {
        if (text[i] != code[i])
            return false;
        if (text[i] == 0)
            return true;
    }
    return true;
}

const InputFormat inputFormats[2] = {
    {"GPHA", PacketFormat::AlphaHeaderLength, true},
    {"GPHB", PacketFormat::HeaderLength, false},
};

const InputFormat& opaquePackets = inputFormats[1];

const OutputOrder outputOrders[4] = {
    {"RGBA", {ChannelRed, ChannelGreen, ChannelBlue, ChannelAlpha}},
    {"BGRA", {ChannelBlue, ChannelGreen, ChannelRed, ChannelAlpha}},
    {"ARGB", {ChannelAlpha, ChannelRed, ChannelGreen, ChannelBlue}},
    {"ABGR", {ChannelAlpha, ChannelBlue, ChannelGreen, ChannelRed}},
};

const InputFormat* findInputFormat(const char* text)
{
    return findCode(inputFormats, text);
}

const OutputOrder* findOutputOrder(const char* text)
{
    return findCode(outputOrders, text);
}

} // namespace Qor
