#pragma once

#include <QString>
#include <QStringList>

namespace ew {

// Starts outside programs without waiting for them.
class Launcher {
public:
    virtual ~Launcher() = default;
    // Starts program with arguments, each handed over as one argument. False when it
    // could not be started.
    virtual bool start(const QString& program, const QStringList& arguments) = 0;
    // Opens a text file in the desktop's text editor. False when no editor could be started.
    virtual bool openInTextEditor(const QString& path) = 0;
};

class ProcessLauncher final : public Launcher {
public:
    bool start(const QString& program, const QStringList& arguments) override;
    bool openInTextEditor(const QString& path) override;
};

} // namespace ew
