// Offline upsampling of a whole audio file: the last stage of an effects
// render, and what plays a track above its own rate.
//
// upsampleCAF reads `input` with AudioFile and converts it with libsoxr's
// very-high-quality recipe (Resampler) into `output` as 32-bit float at
// `rate` Hz with the input's channel count, in the container the output's
// extension names (".caf" for the render's files). It streams: blocks of
// 16384 input frames, one input and one output buffer for the whole file,
// whatever the track's length.
//
// Every failure is an error and leaves no output file behind:
// - a converter that cannot be made (a rate that is not a finite positive
//   number, or a ratio beyond the converter's reach): code 4, "업샘플링
//   변환기를 만들 수 없습니다.";
// - an input that cannot be opened or read to its end, a read error in the
//   middle included (a truncated file must not pass for a converted one);
// - an output that cannot be created, written in full or completed.
// The last two carry the file's cause (FailureText.h) and the file's name,
// except an output the disk had no room for (a full disk or quota): the work
// folder's fault, which the note tells in the words the play road uses for
// it (kNoRoomToUpsample), naming the base the run's folder lies in.
// - `stopped` answering true between two blocks (its render is of no use any
//   more): upsampleStoppedNote().
//
// Thread: any; blocks until the file is written (the render's job thread).
#pragma once

#include "effects/RenderNote.h"

#include <QString>

#include <functional>
#include <optional>

namespace ql {

// Input frames per block.
inline constexpr int kUpsampleBlock = 16384;
// The note of an output the work folder had no room for; the work folder's
// base follows it. The track plays what the stages before made.
inline constexpr const char* kNoRoomToUpsample =
    "작업 폴더에 공간이 없어 업샘플링 없이 재생합니다: ";

// Converts `input` into `output` at `rate` Hz; none on success, else why not.
std::optional<RenderNote> upsampleCAF(const QString& input, const QString& output, double rate,
                                      const std::function<bool()>& stopped = {});

// The error of a conversion given up because it was stopped.
RenderNote upsampleStoppedNote();

// The error of a converter that cannot be made.
RenderNote upsampleConverterError();

} // namespace ql
