#include "app/JsonCodecImpl.h"
#include "effects/FXState.h"

namespace ql {

namespace {
// Foundation-style Base64: standard alphabet, padded to a multiple of four.
bool readBase64(JsonElement e, QByteArray& out) {
    QString text;
    if (!readJson(e, text) || text.size() % 4 != 0)
        return false;
    auto decoded =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    out = std::move(*decoded);
    return true;
}
} // namespace

bool readJson(JsonElement e, PluginSlot& s) {
    return readMembers(e, {"name", "type", "sub", "man", "state"}, allOf(4),
                       [&s](unsigned i, JsonElement v) {
                           switch (i) {
                           case 0:
                               return readJson(v, s.name);
                           case 1:
                               return readJson(v, s.type);
                           case 2:
                               return readJson(v, s.sub);
                           case 3:
                               return readJson(v, s.man);
                           default:
                               if (v.is_null()) {
                                   s.state.reset();
                                   return true;
                               }
                               s.state.emplace();
                               return readBase64(v, *s.state);
                           }
                       });
}

void writeJson(JsonWriter& w, const PluginSlot& s) {
    w.beginObject();
    writeMember(w, "name", s.name);
    writeMember(w, "type", s.type);
    writeMember(w, "sub", s.sub);
    writeMember(w, "man", s.man);
    if (s.state) {
        writeMember(w, "state", QString::fromLatin1(s.state->toBase64()));
    }
    w.endObject();
}

bool readJson(JsonElement e, FXState& s) {
    return readMembers(
        e, {"plugins", "enabled", "preset", "gains", "crossfeed", "wide", "room", "night"},
        allOf(8), [&s](unsigned i, JsonElement v) {
            switch (i) {
            case 0:
                return readJson(v, s.plugins);
            case 1:
                return readJson(v, s.enabled);
            case 2:
                return readJson(v, s.preset);
            case 3:
                return readJson(v, s.gains);
            case 4:
                return readJson(v, s.crossfeed);
            case 5:
                return readJson(v, s.wide);
            case 6:
                return readJson(v, s.room);
            default:
                return readJson(v, s.night);
            }
        });
}

void writeJson(JsonWriter& w, const FXState& s) {
    w.beginObject();
    writeMember(w, "plugins", s.plugins);
    writeMember(w, "enabled", s.enabled);
    writeMember(w, "preset", s.preset);
    writeMember(w, "gains", s.gains);
    writeMember(w, "crossfeed", s.crossfeed);
    writeMember(w, "wide", s.wide);
    writeMember(w, "room", s.room);
    writeMember(w, "night", s.night);
    w.endObject();
}

template struct JsonCodec<FXState>;
// The active slots handed to the plug-in render program.
template struct JsonCodec<std::vector<PluginSlot>>;

} // namespace ql
