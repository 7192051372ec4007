#pragma once

#include <QString>
#include <functional>

class Prompts;

// The remote-assistance launcher of the workspace: shows the data folder, then checks
// the connection, then looks for "supporto.exe" in the data folder and starts it
// detached. Nothing waits for the started program.
namespace RemoteAssistance {

inline constexpr char kProgramName[] = "supporto.exe";

struct Hooks {
    // Whether the machine has a network connection (modulo1::IsInternetConnected when empty).
    std::function<bool()> isConnected;
    // Starts the program detached; true when it started (QProcess::startDetached when empty).
    std::function<bool(const QString& program)> start;
};

// Full path of the remote-assistance program: DataFolder() + "supporto.exe".
QString programPath();

// The whole click of the workspace's remote-assistance button.
void launch(Prompts& prompts, const Hooks& hooks = {});

} // namespace RemoteAssistance
