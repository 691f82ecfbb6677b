// The player of one file: what the rest of the program uses to play sound.
// It decodes the file on its own thread into its voice and plays it on the
// output engine of its device (the system default unless one is chosen),
// mixed there with every other player on that device.
//
// Units: times in seconds of source time (duration, currentTime, at any
// speed) or of the device's clock (deviceCurrentTime, playAt); volume is a
// linear gain 0…1; rate a tempo factor 0.5…2.0; meter readings in dBFS with
// a floor of −160. Values are never NaN: a NaN given to a setter is ignored.
//
// Position: currentTime is what is heard now — the frames still queued in
// the device are not counted yet — so deviceCurrentTime + (duration −
// currentTime) / rate is the device time at which the file ends.
//
// Scheduled start: playAt(t) starts the file when the device clock reaches
// t; within 50 ms of the end of another player on the same device it starts
// right after that player's last frame (the gapless join), wherever that
// frame turns out to be when the other's length was an estimate. isPlaying()
// is true from the call on; pause() and stop() before the start cancel it,
// and another time is asked for only after them.
//
// Speed: with enableRate the file plays at `rate` with its pitch kept
// (rubberband); without it, or at rate 1.0, no time-stretch stage is in the
// path and the samples reach the device as decoded.
//
// Fades: pause(), stop() and a seek fade the sound out over 5 ms instead of
// cutting it in one sample; a resume and a seek's new position fade in. A
// file's start, its natural end and a gapless join are played as they are.
//
// Metering: with metering enabled, updateMeters() measures the samples the
// device played since the previous call, before the volume stage:
// averagePower is their RMS, peakPower their largest absolute value. A span
// with no samples (paused, not started) reads −160.
//
// Ends: onFinished is called once on the main thread when the file has
// played to its end (true) or a decode error ended it (false); never after
// pause() or stop(), and never for a position left by a seek. It is posted
// through the application's event loop: without a QCoreApplication it is not
// called (isPlaying() still turns false at the end). After the end
// currentTime reads 0 and play() starts again from the beginning.
//
// Failures: open() and the calls that start output report false and leave a
// readable sentence in lastError(); nothing throws.
//
// Streams: openStream() plays the sound a PcmStream decodes from a web
// address as it arrives; until it comes the player is silent (other players
// on the device go on). Its length is an estimate until the end is read. It
// plays once, forward: a seek or a resume reaches back only as far as the
// stream still holds, and a stopped stream cannot start again (it ends as
// failed). The player ends the stream's decoder when it is stopped, when its
// end is delivered, and when it is destroyed.
//
// Thread: main thread only (created, controlled and destroyed there). It
// works without a running QCoreApplication.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QObject;

namespace ql::platform {

class AudioFile;
class OutputEngine;
class OutputEngines;
class PcmStream;
class Voice;

class AudioPlayer {
public:
    struct Opened {
        std::unique_ptr<AudioPlayer> player;
        QString error;
        // openPlayable(): the file opened, and was refused for holding no
        // samples.
        bool noSamples = false;
        // As AudioFile::Opened's: no decode of the file may be tried.
        bool keptFromFfmpeg = false;
    };
    // Opens `path` (any file AudioFile reads) for playback on `outputs`.
    static Opened open(OutputEngines& outputs, const QString& path);
    // open(), but a file that opens and holds no samples is refused like one
    // that does not open: played, it would end at once, and the end of a
    // track would ask for it again, for ever when it is alone. Every road to
    // a player of a file (direct, decoded, rendered, gapless, crossfade,
    // opened ahead) opens it here, so every road skips such a file.
    static Opened openPlayable(OutputEngines& outputs, const QString& path);
    // openPlayable() of a file opened already, on any thread (the program
    // opens files off its main thread: AudioFile::open); `error` says why
    // it did not open when `file` is null, and `keptFromFfmpeg` whether no
    // decode of it may be tried (AudioFile::Opened's).
    static Opened openPlayable(OutputEngines& outputs, std::unique_ptr<AudioFile> file,
                               const QString& error, bool keptFromFfmpeg = false);
    // Whether a player opened with openPlayable() plays `path` as it is:
    // empty when it does, else why not. Reads the file's first block, which
    // is where an MP3 whose length cannot be trusted is found out (its frames
    // are counted, the whole file read): any thread but the main one. A file
    // FFmpeg reads that takes longer than AudioFile::kOpenLimitMs to open is
    // refused.
    static QString refusal(const QString& path);
    // Plays `stream` on `outputs`; path() is its address.
    static Opened openStream(OutputEngines& outputs, std::shared_ptr<PcmStream> stream);

    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    // Binds the device and fills the buffers so that play() starts at once.
    bool prepareToPlay();
    // Starts or resumes; false when output cannot start.
    bool play();
    // Starts when the bound device's clock reaches `deviceTime` (a time
    // already past starts at once); false when output cannot start or the
    // time is NaN or infinite.
    bool playAt(double deviceTime);
    // Keeps the position; isPlaying() is false when it returns.
    void pause();
    // Pauses and releases the device binding and the decoder.
    void stop();
    // Like stop() for a player about to be destroyed, except that its
    // decoder thread is let go by the destruction: waiting for it to wind
    // down would hold up whatever starts next on a busy machine.
    void retire();
    bool isPlaying() const;
    // The file played to its end, or a decode error ended it, and onFinished
    // has not been called for that yet (it waits in the event loop).
    bool endPending() const;

    double duration() const;
    double currentTime() const;
    // The sound decoded ahead of what the device was given, in seconds.
    double bufferedSeconds() const;
    // Clamped to 0…duration.
    void setCurrentTime(double seconds);

    float volume() const { return m_volume; }
    // Clamped to 0…1, applied to the next block.
    void setVolume(float volume);

    // Speed with the pitch kept. Set enableRate before prepareToPlay; rate
    // is clamped to 0.5…2.0 and applies while playing too.
    bool enableRate() const { return m_enableRate; }
    void setEnableRate(bool enable);
    float rate() const { return m_rate; }
    void setRate(float rate);

    bool isMeteringEnabled() const;
    void setMeteringEnabled(bool enabled);
    void updateMeters();
    // Readings of the last updateMeters(), per channel of the file; −160 for
    // a channel the file does not have.
    float averagePower(int channel) const;
    float peakPower(int channel) const;

    // The bound device's clock; 0 before the player has a device.
    double deviceCurrentTime() const;
    double sourceSampleRate() const;
    int numberOfChannels() const;

    // Routes the player to the device with that UID (empty: the system
    // default), also while playing. False, with the old route kept, when
    // the device does not exist or cannot play.
    bool setOutputDevice(const QString& uid);
    QString outputDevice() const { return m_uid; }

    QString lastError() const { return m_error; }
    // Why reading the file failed, after an end that was not successful
    // (empty for another failure).
    QString readError() const;
    QString path() const { return m_path; }

    std::function<void(bool successfully)> onFinished;

private:
    AudioPlayer(OutputEngines& outputs, std::unique_ptr<AudioFile> file, const QString& path);
    OutputEngine* resolveEngine(const QString& uid, QString& error);
    bool bind();
    void deliverEnd(std::uint64_t serial, bool ok);
    void suppressEnd();
    // What stop() and retire() share: nothing more is heard of the player
    // nor reported by it, and the device is let go. True when it had started.
    bool silence();
    bool startVoice(double deviceTime);
    void applySpeed();
    double heardFrame() const;
    bool hasUnheard() const;
    void fadeOutQueued();
    void leaveEngine();

    OutputEngines& m_outputs;
    QString m_path;
    std::shared_ptr<PcmStream> m_stream; // the decoder of a stream, ended with the player
    std::unique_ptr<Voice> m_voice;
    std::unique_ptr<QObject> m_notifier; // lives on the main thread; carries the end call
    OutputEngine* m_engine = nullptr;    // the engine the voice is attached to
    QString m_uid;
    QString m_error;
    float m_volume = 1.0f;
    bool m_enableRate = false;
    float m_rate = 1.0f;
    std::vector<float> m_average, m_peak; // per file channel, from updateMeters()
    std::int64_t m_startFrame = 0;        // position while the decoder is not running
    std::uint64_t m_suppressed = 0;
    std::uint64_t m_delivered = 0;
};

} // namespace ql::platform
