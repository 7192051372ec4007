#pragma once

#include "env/Prompts.h"

#include <QList>
#include <QStringList>

// A Prompts that shows nothing: it records every message and file request and gives
// the answers queued by the test (Ok / Cancel when nothing is queued).
class ScriptedPrompts final : public Prompts {
  public:
    Answer message(const QString& text, Buttons buttons = Buttons::Ok) override;
    std::optional<QString> openFile(const FileRequest& request) override;
    std::optional<QString> saveFile(const FileRequest& request) override;

    QStringList messages;
    QList<Buttons> messageButtons;
    QList<FileRequest> openRequests;
    QList<FileRequest> saveRequests;

    QList<Answer> answers;                     // consumed by message(), front first
    QList<std::optional<QString>> fileAnswers; // consumed by openFile()/saveFile()
};
