// What the tools panel shows for stored choices, and when a change in the
// effects window must end the two modes that bypass the effects. Pure: values
// in, values out.
//
// speedIndex: the speed pop-up's item for a stored speed: the first entry of
// the speed list (playback/Transport.h) within 0.01 of it, else "1x" (index
// 3). A speed between the entries (1.3) shows "1x" and stays as stored.
//
// upsamplingIndex: the upsampling pop-up's item: 2 ("장치 최대") while maximum
// quality is on, else the stored mode held to 0…2 (a stored 5 shows 2, a
// negative one 0; the stored value is not changed here).
//
// effectsActive: the effects switch is on and at least one effect would
// change the sound: a band gain other than 0 dB, one of the four stereo and
// dynamics flags, or a slot naming a plug-in. The bypass is not consulted:
// the question is what the user asked for, not what plays now.
#pragma once

namespace ql {

struct FXState;

int speedIndex(double playRate);
int upsamplingIndex(bool maxQuality, int upMode);
bool effectsActive(const FXState& state);

} // namespace ql
