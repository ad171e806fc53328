// Short MP3 files made with the soundtrack's encoder (libmp3lame), tags and info frame placed by hand.
#include "mp3_encode.h"

#include <lame/lame.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Copies a tag or frame that lame hands out through a sized buffer (it returns the size it needs).
template <typename Get> std::string lame_block(Get get)
{
    std::vector<unsigned char> buffer(get(nullptr, 0));
    if (buffer.empty() || get(buffer.data(), buffer.size()) != buffer.size())
        return "";
    return std::string(buffer.begin(), buffer.end());
}

bool set_up(lame_global_flags* lame, const Mp3Recipe& recipe, const std::string& picture)
{
    lame_set_in_samplerate(lame, recipe.rate);
    lame_set_out_samplerate(lame, recipe.rate);
    lame_set_num_channels(lame, recipe.channels);
    lame_set_mode(lame, recipe.channels == 1 ? MONO : JOINT_STEREO);
    switch (recipe.bitrate) {
    case Mp3Bitrate::constant:
        lame_set_brate(lame, recipe.kbps);
        break;
    case Mp3Bitrate::average:
        lame_set_VBR(lame, vbr_abr);
        lame_set_VBR_mean_bitrate_kbps(lame, recipe.kbps);
        break;
    case Mp3Bitrate::variable:
        lame_set_VBR(lame, vbr_default);
        lame_set_VBR_q(lame, 4);
        break;
    case Mp3Bitrate::free_format:
        lame_set_free_format(lame, 1);
        lame_set_brate(lame, recipe.kbps);
        break;
    }
    lame_set_write_id3tag_automatic(lame, 0);   // the tags are placed below
    if (recipe.id3v1 || recipe.id3v2 || recipe.picture_bytes > 0) {
        id3tag_init(lame);
        id3tag_set_title(lame, "Tone");
        if (recipe.id3v2 || recipe.picture_bytes > 0)
            recipe.id3v1 ? id3tag_add_v2(lame) : id3tag_v2_only(lame);
        else
            id3tag_v1_only(lame);
        if (!picture.empty() && id3tag_set_albumart(lame, picture.data(), picture.size()) != 0)
            return false;
    }
    return lame_init_params(lame) == 0;
}

}   // namespace

std::string encode_mp3(const Mp3Recipe& recipe)
{
    std::string picture;
    if (recipe.picture_bytes > 0) {
        std::mt19937 noise(99);
        picture.resize(recipe.picture_bytes);
        for (char& byte : picture)
            byte = static_cast<char>(noise() & 0xFF);
        picture.replace(0, 4, "\xFF\xD8\xFF\xE0");   // what the encoder takes for a JPEG
    }
    lame_global_flags* lame = lame_init();
    if (!lame)
        return "";
    std::string file;
    if (set_up(lame, recipe, picture)) {
        const auto count = static_cast<int>(recipe.seconds * recipe.rate);
        std::vector<short> tone(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            tone[static_cast<size_t>(i)] =
                static_cast<short>(std::lround(10000 * std::sin(2 * M_PI * 440 * i / recipe.rate)));
        std::vector<unsigned char> stream(static_cast<size_t>(count) * 5 / 4 + 7200 + 7200);
        const int encoded =
            lame_encode_buffer(lame, tone.data(), tone.data(), count, stream.data(), static_cast<int>(stream.size()));
        const int flushed =
            encoded < 0 ? -1
                        : lame_encode_flush(lame, stream.data() + encoded, static_cast<int>(stream.size()) - encoded);
        if (flushed >= 0) {
            std::string audio(stream.begin(), stream.begin() + encoded + flushed);
            // The encoder left an empty first frame for its info frame (stream length, seek table, delay).
            const std::string info =
                lame_block([&](unsigned char* at, size_t size) { return lame_get_lametag_frame(lame, at, size); });
            audio.replace(0, info.size(), info);
            file = lame_block([&](unsigned char* at, size_t size) { return lame_get_id3v2_tag(lame, at, size); }) +
                   audio +
                   lame_block([&](unsigned char* at, size_t size) { return lame_get_id3v1_tag(lame, at, size); });
        }
    }
    lame_close(lame);
    return file;
}
