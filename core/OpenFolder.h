#pragma once

#include <QString>

// A folder opened once and kept open, so that files can be made inside it by name: swapping
// the folder for a link (or moving it) after it was opened cannot redirect those files.
// Move-only; closes the folder on destruction.
class OpenFolder {
  public:
    OpenFolder() = default;
    ~OpenFolder();
    OpenFolder(OpenFolder&& other) noexcept;
    OpenFolder& operator=(OpenFolder&& other) noexcept;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    // Opens path (following links in it, as any open does). On failure the result is not
    // open and *error, when given, holds the errno value.
    static OpenFolder open(const QString& path, int* error = nullptr);

    bool isOpen() const { return m_fd >= 0; }
    // The descriptor, for the *at() calls; -1 when not open. Owned by this object.
    int fd() const { return m_fd; }
    // The path it was opened by (for messages only: it may name something else by now).
    QString path() const { return m_path; }

  private:
    int m_fd = -1;
    QString m_path;
};
