// The date box: its text as typed or set, read as a date and written back.
// Input: the text, UTF-8.

#include "controls/DateMask.h"
#include "controls/datacont.h"
#include "env/Prompts.h"
#include "fuzz/FuzzCheck.h"

#include <QApplication>

namespace {

// Message boxes and dialogs are never shown while fuzzing.
class SilentPrompts final : public Prompts {
  public:
    Answer message(const QString&, Buttons) override { return Answer::Ok; }
    std::optional<QString> openFile(const FileRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileRequest&) override { return std::nullopt; }
};

// The field at position, length places, as written back: the typed digits (blanks around
// them stand for nothing), padded with zeros in front.
bool writtenAsTyped(const QString& text, const QString& written, int position, int length) {
    const QString typed = text.mid(position, length).trimmed();
    const QString field = written.mid(position, length);
    return field.endsWith(typed) &&
           field.left(length - typed.size()).count(QLatin1Char('0')) == length - typed.size();
}

void checkDate(const QString& text) {
    const auto date = DateMask::parse(text);
    if (!date)
        return;
    FUZZ_CHECK(date->isValid());
    FUZZ_CHECK(date->year() >= DateMask::kFirstYear && date->year() <= DateMask::kLastYear);
    // Writing the date back gives the typed digits, each field filled to its places.
    const QString written = DateMask::format(*date);
    FUZZ_CHECK(written.size() == DateMask::kLength);
    FUZZ_CHECK(writtenAsTyped(text, written, 0, 2) && writtenAsTyped(text, written, 3, 2) &&
               writtenAsTyped(text, written, 6, 4));
    FUZZ_CHECK(DateMask::parse(DateMask::format(*date)) == date);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Lives as long as the process: the control needs an application.
    static QApplication* app = new QApplication(*argc, *argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(fuzz::bytes(data, size));
    checkDate(text);

    // The same text through the control's masked box.
    static SilentPrompts prompts;
    datacont control(prompts);
    control.setText(text);
    const QString shown = control.text();
    FUZZ_CHECK(shown.size() == DateMask::kLength);
    FUZZ_CHECK(shown.at(2) == QLatin1Char('/') && shown.at(5) == QLatin1Char('/'));
    checkDate(shown);
    return 0;
}
