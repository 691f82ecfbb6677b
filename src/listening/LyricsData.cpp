#include "listening/LyricsData.h"

#include "app/JsonCodecImpl.h"

namespace ql {

bool readJson(JsonElement e, LyricsData& d) {
    return readMembers(e, {"synced", "plain"}, allOf(2), [&d](unsigned i, JsonElement v) {
        return readJson(v, i == 0 ? d.synced : d.plain);
    });
}

void writeJson(JsonWriter& w, const LyricsData& d) {
    w.beginObject();
    writeMember(w, "synced", d.synced);
    writeMember(w, "plain", d.plain);
    w.endObject();
}

template struct JsonCodec<LyricsData>;

} // namespace ql
