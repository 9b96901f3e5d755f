#pragma once

// The decompressor's plain image of a state, "newstate.dec", as a frame uses it: only the bytes
// the editor reads or writes come into memory; the rest stays in the file and reaches the state
// file through the kernel's copy.

#include "File.h"
#include "Outcome.h"

#include <QByteArray>
#include <QString>

namespace Process {

class WorkingCopy
{
public:
    WorkingCopy() = default;
    ~WorkingCopy();
    WorkingCopy(const WorkingCopy&) = delete;
    WorkingCopy& operator=(const WorkingCopy&) = delete;

    // Opens the file, checks that it starts as a snapshot and holds the party data, and reads
    // the editor's part. `statePath` is for messages.
    Outcome open(const QString& path, const QString& statePath);

    // kMinimumImageSize bytes laid out as the image: the first line and the party data as the
    // file holds them, zero in between. A procedure reads and patches the party data here.
    QByteArray& image() { return m_image; }

    // Puts what a procedure changed in image() into the file.
    Outcome writeBack();

    // The open file holds exactly this image.
    bool sameAs(const platform::File& other) const;

    // Writes the whole image into `target`, through the kernel's copy where it can.
    std::error_code copyTo(platform::File& target) const;
    qint64 size() const { return m_size; }
    void close();

private:
    platform::File m_file;
    qint64 m_size = 0;
    QByteArray m_image;
    QByteArray m_asRead;
};

}  // namespace Process
