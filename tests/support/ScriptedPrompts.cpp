#include "tests/support/ScriptedPrompts.h"

Prompts::Answer ScriptedPrompts::message(const QString& text, Buttons buttons) {
    messages << text;
    messageButtons << buttons;
    if (!answers.isEmpty())
        return answers.takeFirst();
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

std::optional<QString> ScriptedPrompts::openFile(const FileRequest& request) {
    openRequests << request;
    return fileAnswers.isEmpty() ? std::nullopt : fileAnswers.takeFirst();
}

std::optional<QString> ScriptedPrompts::saveFile(const FileRequest& request) {
    saveRequests << request;
    return fileAnswers.isEmpty() ? std::nullopt : fileAnswers.takeFirst();
}
