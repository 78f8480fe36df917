#pragma once

#include <QByteArray>

#include <optional>

// Cuts a session's 16 kHz mono 16-bit audio into the frames a streaming
// service takes: chunks gather until at least 3200 bytes (100 ms) wait, which
// then go out whole, never split; what is left at the end goes out padded with
// silence to at least 1600 bytes (50 ms), the shortest frame the services take.
class AudioBatcher
{
public:
    static constexpr qsizetype kBatchBytes = 3200;
    static constexpr qsizetype kShortestLastBatchBytes = 1600;

    // The batch that is complete once `chunk` is added, if one is.
    std::optional<QByteArray> add(const QByteArray& chunk);
    // The padded remainder, or none when nothing remains.
    std::optional<QByteArray> finish();

private:
    QByteArray m_buffer;
};
