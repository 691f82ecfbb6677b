// One lilv world: the installed plug-ins (described on the first ask for the
// list; a slot alone resolves without it), the URID map the plug-ins share,
// and the host features every instance gets.
//
// Features provided: URID map and unmap; options (block lengths maximum 4096,
// minimum 1, nominal 4096, and the sample rate, per instance); bounded block
// length; the worker (per instance, run inline between blocks); state map
// and make path over a folder of state files; and in-place-broken, which
// holds because inputs and outputs never share a buffer. A plug-in requiring
// any other feature is not offered.
//
// The folder of state files is made only when first needed (a plug-in maps or
// makes a path, or a state is captured), so a world whose plug-ins never ask
// leaves nothing on disk even when its process is killed. It is the folder
// the owner names, removed with the world, or else a private temporary one.
//
// lilv reads LV2_PATH itself (else the standard folders). Not thread-safe:
// made on one thread, then used by one thread at a time (the URID map alone
// takes a lock, as plug-ins may map from any thread).
#pragma once

#include "effects/PluginCatalog.h"

#include <QTemporaryDir>

#include <lilv/lilv.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ql::platform {

inline constexpr std::uint32_t kMaxBlock = 4096;

class Lv2World {
public:
    // `stateDir`: where state files go; empty for a private temporary folder.
    explicit Lv2World(QString stateDir = {});
    ~Lv2World();
    Lv2World(const Lv2World&) = delete;
    Lv2World& operator=(const Lv2World&) = delete;

    LilvWorld* world() const { return m_world; }
    LV2_URID_Map* map() { return &m_map; }
    LV2_URID_Unmap* unmap() { return &m_unmap; }
    LV2_URID urid(const char* uri);

    // The plug-ins that could be offered (audio in and out, every required
    // feature provided, not an instrument), in lilv's order.
    const std::vector<FoundPlugin>& found() const {
        list();
        return m_found;
    }
    // The offered list (found(), titled and sorted).
    const std::vector<OfferedEffect>& offered() const {
        list();
        return m_offered;
    }
    // The plug-in a slot resolves to; none when it is not offered.
    const LilvPlugin* resolve(const PluginSlot& slot) const;

    // The features shared by every instance (options are per instance).
    std::vector<const LV2_Feature*> sharedFeatures() const;
    // The folder of state files, made on the first call. Any thread.
    QString stateDir();

    // Nodes used everywhere.
    struct Nodes {
        LilvNode* audio;
        LilvNode* control;
        LilvNode* cv;
        LilvNode* atom;
        LilvNode* event;
        LilvNode* input;
        LilvNode* output;
        LilvNode* midiEvent;
        LilvNode* toggled;
        LilvNode* enumeration;
        LilvNode* integer;
        LilvNode* logarithmic;
        LilvNode* notOnGui;
        LilvNode* unit;
        LilvNode* unitSymbol;
        LilvNode* label;
        LilvNode* name;
        LilvNode* optional;
    };
    const Nodes& nodes() const { return m_nodes; }

private:
    // Describes every installed plug-in, once, on the first ask for the list.
    void list() const;
    bool offerable(const LilvPlugin* plugin) const;
    FoundPlugin describe(const LilvPlugin* plugin) const;
    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri);
    static const char* unmapUrid(LV2_URID_Unmap_Handle handle, LV2_URID urid);
    static char* abstractPath(LV2_State_Map_Path_Handle handle, const char* absolute);
    static char* absolutePath(LV2_State_Map_Path_Handle handle, const char* abstract);
    static char* makePath(LV2_State_Make_Path_Handle handle, const char* path);

    LilvWorld* m_world = nullptr;
    Nodes m_nodes{};
    mutable bool m_listed = false;
    mutable std::vector<FoundPlugin> m_found;
    mutable std::vector<OfferedEffect> m_offered;

    std::mutex m_uridLock;
    std::map<std::string, LV2_URID> m_uris;
    std::vector<const std::string*> m_names; // index = URID - 1; keys of m_uris
    LV2_URID_Map m_map{};
    LV2_URID_Unmap m_unmap{};

    std::mutex m_stateLock;
    QString m_stateRoot;                        // the owner's folder, if named
    bool m_stateMade = false;                   // m_stateRoot exists
    std::unique_ptr<QTemporaryDir> m_stateTemp; // otherwise, once needed
    LV2_State_Map_Path m_mapPath{};
    LV2_State_Make_Path m_makePath{};
    LV2_Feature m_mapFeature{}, m_unmapFeature{}, m_boundedFeature{}, m_mapPathFeature{},
        m_makePathFeature{}, m_inPlaceFeature{};
};

} // namespace ql::platform
