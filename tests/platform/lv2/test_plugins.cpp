/* Guards against: (fixture) host edge cases that depend on what the system ships. */
/* Plug-ins of the test bundle, made so the host's edge cases do not depend on
 * what the distribution ships: one without audio ports, one requiring a
 * feature no host here provides, one that aborts while running, one that never
 * finishes loading, and one with two inputs, two outputs and a MIDI input. */
#include <lv2/core/lv2.h>

#include <stdlib.h>
#include <unistd.h>

#define BASE "urn:quavelark:test:"

typedef struct {
    float* port[8];
} Plugin;

static LV2_Handle instantiate(const LV2_Descriptor* d, double rate, const char* path,
                              const LV2_Feature* const* features) {
    (void)d, (void)rate, (void)path, (void)features;
    return static_cast<Plugin*>(calloc(1, sizeof(Plugin)));
}

static LV2_Handle instantiateForever(const LV2_Descriptor* d, double rate, const char* path,
                                     const LV2_Feature* const* features) {
    (void)d, (void)rate, (void)path, (void)features;
    for (;;)
        pause();
}

static void connect(LV2_Handle h, uint32_t port, void* data) {
    if (port < 8)
        ((Plugin*)h)->port[port] = (float*)data;
}

static void cleanup(LV2_Handle h) {
    free(h);
}

static void runNothing(LV2_Handle h, uint32_t n) {
    (void)h, (void)n;
}

/* Ports 0 input, 1 output. */
static void runCopy(LV2_Handle h, uint32_t n) {
    Plugin* p = (Plugin*)h;
    for (uint32_t i = 0; i < n; ++i)
        p->port[1][i] = p->port[0][i];
}

static void runAbort(LV2_Handle h, uint32_t n) {
    (void)h, (void)n;
    abort();
}

/* Ports 3, 4 inputs; 5, 6 outputs: the sum and the difference. */
static void runSumDiff(LV2_Handle h, uint32_t n) {
    Plugin* p = (Plugin*)h;
    for (uint32_t i = 0; i < n; ++i) {
        const float l = p->port[3][i], r = p->port[4][i];
        p->port[5][i] = l + r;
        p->port[6][i] = l - r;
    }
}

static const LV2_Descriptor descriptors[] = {
    {BASE "noaudio", instantiate, connect, NULL, runNothing, NULL, cleanup, NULL},
    {BASE "needsfeature", instantiate, connect, NULL, runCopy, NULL, cleanup, NULL},
    {BASE "aborts", instantiate, connect, NULL, runAbort, NULL, cleanup, NULL},
    {BASE "sumdiff", instantiate, connect, NULL, runSumDiff, NULL, cleanup, NULL},
    {BASE "hangs", instantiateForever, connect, NULL, runNothing, NULL, cleanup, NULL},
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index < sizeof descriptors / sizeof descriptors[0] ? &descriptors[index] : NULL;
}
