#include "controls/DateMask.h"
#include "controls/datacont.h"
#include "tests/support/ScriptedPrompts.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QMetaProperty>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

namespace {

const QString kRefused = QStringLiteral("La data inserita non è una data valida");
const QString kEmpty = QStringLiteral("  /  /    ");

// A window with the date control, another field and a button, in that tab order.
struct Form {
    explicit Form(Prompts* prompts) {
        auto* layout = new QVBoxLayout(&window);
        date = prompts ? new datacont(*prompts, &window) : new datacont(&window);
        other = new QLineEdit(&window);
        button = new QPushButton(QStringLiteral("Conferma"), &window);
        layout->addWidget(date);
        layout->addWidget(other);
        layout->addWidget(button);
        window.show();
        window.activateWindow();
    }

    QLineEdit* box() const { return date->datella(); }

    // Moves the focus away from the box the way an operator would.
    void leaveBox(const QString& how) {
        if (how == QLatin1String("tab"))
            QTest::keyClick(box(), Qt::Key_Tab);
        else if (how == QLatin1String("backtab"))
            QTest::keyClick(box(), Qt::Key_Tab, Qt::ShiftModifier);
        else if (how == QLatin1String("click other"))
            QTest::mouseClick(other, Qt::LeftButton);
        else if (how == QLatin1String("click button"))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            QFAIL("unknown way to leave the box");
    }

    QWidget window;
    datacont* date = nullptr;
    QLineEdit* other = nullptr;
    QPushButton* button = nullptr;
};

} // namespace

class TestDatacont : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date"); // null when the text is refused

        QTest::newRow("last day") << QStringLiteral("31/12/2100") << QDate(2100, 12, 31);
        QTest::newRow("first day") << QStringLiteral("01/01/1900") << QDate(1900, 1, 1);
        QTest::newRow("day before the first") << QStringLiteral("31/12/1899") << QDate();
        QTest::newRow("day after the last") << QStringLiteral("01/01/2101") << QDate();
        QTest::newRow("day then month") << QStringLiteral("02/03/2020") << QDate(2020, 3, 2);
        QTest::newRow("month 13") << QStringLiteral("01/13/2020") << QDate();
        QTest::newRow("day 0") << QStringLiteral("00/01/2020") << QDate();
        QTest::newRow("31 April") << QStringLiteral("31/04/2020") << QDate();
        QTest::newRow("2000 is leap") << QStringLiteral("29/02/2000") << QDate(2000, 2, 29);
        QTest::newRow("1900 is not leap") << QStringLiteral("29/02/1900") << QDate();
        // Fields typed with fewer digits than places, as "1/2/2015" leaves them.
        QTest::newRow("one-digit day") << QStringLiteral("1 /12/2020") << QDate(2020, 12, 1);
        QTest::newRow("one-digit day and month") << QStringLiteral("1 /2 /2015") << QDate(2015, 2, 1);
        QTest::newRow("blanks before the digits") << QStringLiteral(" 9/ 3/2015") << QDate(2015, 3, 9);
        QTest::newRow("day with no digit") << QStringLiteral("  /12/2020") << QDate();
        QTest::newRow("month with no digit") << QStringLiteral("01/  /2020") << QDate();
        QTest::newRow("blank between the year's digits") << QStringLiteral("01/12/20 0") << QDate();
        QTest::newRow("two-digit year") << QStringLiteral("1 /2 /15  ") << QDate();
        QTest::newRow("empty") << kEmpty << QDate();
        QTest::newRow("other separator") << QStringLiteral("01-12-2020") << QDate();
        QTest::newRow("too long") << QStringLiteral("01/12/20200") << QDate();
        QTest::newRow("sign") << QStringLiteral("+1/12/2020") << QDate();
    }

    void parse() {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        // The mask fixes the order of the fields, whatever the regional settings say.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        const auto parsed = DateMask::parse(text);
        QLocale::setDefault(QLocale::system());
        QCOMPARE(parsed.value_or(QDate()), date);
        if (date.isValid() && !text.contains(QLatin1Char(' ')))
            QCOMPARE(DateMask::format(date), text);
    }

    void leavingTheBox_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("leaveBy");
        QTest::addColumn<QString>("shown"); // the box's text once the focus has gone, or empty when refused

        QTest::newRow("31/12/2100") << QStringLiteral("31122100") << QStringLiteral("tab")
                                    << QStringLiteral("31/12/2100");
        QTest::newRow("01/01/1900") << QStringLiteral("01011900") << QStringLiteral("click other")
                                    << QStringLiteral("01/01/1900");
        QTest::newRow("29/02/2024") << QStringLiteral("29022024") << QStringLiteral("click button")
                                    << QStringLiteral("29/02/2024");
        QTest::newRow("letters are not typed")
            << QStringLiteral("a31b12c2100") << QStringLiteral("backtab") << QStringLiteral("31/12/2100");
        QTest::newRow("empty box") << QString() << QStringLiteral("tab") << kEmpty;
        QTest::newRow("31/12/1899") << QStringLiteral("31121899") << QStringLiteral("tab") << QString();
        QTest::newRow("01/01/2101") << QStringLiteral("01012101") << QStringLiteral("backtab") << QString();
        QTest::newRow("31/02/2015") << QStringLiteral("31022015") << QStringLiteral("click button")
                                    << QString();
        QTest::newRow("29/02/2023") << QStringLiteral("29022023") << QStringLiteral("click other")
                                    << QString();
        QTest::newRow("only the day") << QStringLiteral("12") << QStringLiteral("tab") << QString();
        QTest::newRow("1/2/2015 typed naturally")
            << QStringLiteral("1/2/2015") << QStringLiteral("tab") << QStringLiteral("01/02/2015");
        QTest::newRow("9/11/2001 typed naturally")
            << QStringLiteral("9/11/2001") << QStringLiteral("click other") << QStringLiteral("09/11/2001");
        QTest::newRow("no day typed") << QStringLiteral("/2/2015") << QStringLiteral("tab") << QString();
        QTest::newRow("year not finished")
            << QStringLiteral("1212202") << QStringLiteral("click other") << QString();
    }

    void leavingTheBox() {
        QFETCH(QString, typed);
        QFETCH(QString, leaveBy);
        QFETCH(QString, shown);
        ScriptedPrompts prompts;
        Form form(&prompts);
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        QSignalSpy clicked(form.button, &QPushButton::clicked);
        form.date->setFocus(Qt::TabFocusReason);
        QVERIFY(form.box()->hasFocus());
        QTest::keyClicks(form.box(), typed);
        form.leaveBox(leaveBy);

        if (!shown.isEmpty()) {
            QCOMPARE(prompts.messages, QStringList());
            QCOMPARE(form.date->text(), shown);
            QVERIFY(!form.box()->hasFocus());
            QCOMPARE(form.date->BackColor(), form.date->windowColor());
            QCOMPARE(clicked.size(), leaveBy == QLatin1String("click button") ? 1 : 0);
        } else {
            QCOMPARE(prompts.messages, QStringList{kRefused});
            QCOMPARE(prompts.messageButtons, QList<Prompts::Buttons>{Prompts::Buttons::Ok});
            QCOMPARE(form.date->text(), kEmpty);
            QCOMPARE(QApplication::focusWidget(), form.box());
            QVERIFY(!form.other->hasFocus());
            QCOMPARE(form.box()->selectionStart(), 0);
            QCOMPARE(form.box()->selectedText().size(), 10);
            QCOMPARE(form.date->BackColor(), datacont::focusColor());
            // The click that tried to take the focus away does not reach the button.
            QCOMPARE(clicked.size(), 0);
        }
    }

    void typingAgainAfterARefusal() {
        ScriptedPrompts prompts;
        Form form(&prompts);
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        form.date->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(form.box(), QStringLiteral("3102"));
        QTest::mouseClick(form.other, Qt::LeftButton);
        QCOMPARE(prompts.messages.size(), 1);

        // The whole box is selected, so typing starts over from the first digit.
        QTest::keyClicks(form.box(), QStringLiteral("28022015"));
        QCOMPARE(form.date->text(), QStringLiteral("28/02/2015"));
        QTest::mouseClick(form.other, Qt::LeftButton);
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY(form.other->hasFocus());
        QCOMPARE(form.date->text(), QStringLiteral("28/02/2015"));
    }

    void colourAndSelectionWithTheFocus_data() {
        QTest::addColumn<bool>("byMouse");
        QTest::newRow("tab") << false;
        QTest::newRow("click") << true;
    }

    void colourAndSelectionWithTheFocus() {
        QFETCH(bool, byMouse);
        ScriptedPrompts prompts;
        Form form(&prompts);
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        form.date->setText(QStringLiteral("15/08/2021"));
        form.other->setFocus(Qt::OtherFocusReason);
        QCOMPARE(form.date->BackColor(), form.date->windowColor());
        QVERIFY(form.date->windowColor() != datacont::focusColor());

        if (byMouse)
            QTest::mouseClick(form.box(), Qt::LeftButton, {}, QPoint(40, 12));
        else
            QTest::keyClick(form.other, Qt::Key_Tab, Qt::ShiftModifier);
        QVERIFY(form.box()->hasFocus());
        QCOMPARE(form.date->BackColor(), QColor(255, 255, 0));
        QCOMPARE(form.box()->selectionStart(), 0);
        QCOMPARE(form.box()->selectedText(), QStringLiteral("15/08/2021"));

        QTest::keyClick(form.box(), Qt::Key_Tab);
        QVERIFY(form.other->hasFocus());
        QCOMPARE(form.date->BackColor(), form.date->windowColor());
        QVERIFY(prompts.messages.isEmpty());
    }

    void propertyAnnouncements_data() {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("announced");
        QTest::addColumn<QVariant>("value");

        QTest::newRow("Enabled") << QByteArray("Enabled") << QStringLiteral("Enabled") << QVariant(false);
        QTest::newRow("text") << QByteArray("text") << QStringLiteral("Text")
                              << QVariant(QStringLiteral("24/12/1999"));
        QTest::newRow("BackColor") << QByteArray("BackColor") << QStringLiteral("BackColor")
                                   << QVariant(QColor(Qt::cyan));
    }

    void propertyAnnouncements() {
        QFETCH(QByteArray, property);
        QFETCH(QString, announced);
        QFETCH(QVariant, value);
        ScriptedPrompts prompts;
        datacont date(prompts);
        const QMetaObject* meta = date.metaObject();
        const QMetaProperty metaProperty = meta->property(meta->indexOfProperty(property.constData()));
        QVERIFY(metaProperty.isValid());
        QVERIFY(metaProperty.hasNotifySignal());
        QSignalSpy changed(&date, &datacont::PropertyChanged);
        QSignalSpy notified(&date, metaProperty.notifySignal());

        QVERIFY(date.setProperty(property.constData(), value));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), announced);
        QCOMPARE(notified.size(), 1);
        QCOMPARE(date.property(property.constData()), value);

        // The value reaches the box itself.
        QLineEdit* box = date.datella();
        if (property == "Enabled")
            QVERIFY(!box->isEnabled());
        else if (property == "text")
            QCOMPARE(box->displayText(), value.toString());
        else
            QCOMPARE(box->palette().color(QPalette::Base), value.value<QColor>());

        // Setting the same value again is no change.
        QVERIFY(date.setProperty(property.constData(), value));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(notified.size(), 1);
    }

    void typingIsNotASetterCall() {
        ScriptedPrompts prompts;
        Form form(&prompts);
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        QSignalSpy changed(form.date, &datacont::PropertyChanged);
        QSignalSpy textChanged(form.date, &datacont::textChanged);
        form.date->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(form.box(), QStringLiteral("0"));
        QCOMPARE(textChanged.size(), 1);
        QCOMPARE(textChanged.at(0).at(0).toString(), QStringLiteral("0 /  /    "));
        QCOMPARE(changed.size(), 0);
    }

    // A box that can no longer hold the focus cannot ask for another date.
    void boxGoneFromUnderTheFocusDropsAnInvalidDateQuietly_data() {
        QTest::addColumn<bool>("hide");
        QTest::newRow("disabled") << false;
        QTest::newRow("hidden") << true;
    }

    void boxGoneFromUnderTheFocusDropsAnInvalidDateQuietly() {
        QFETCH(bool, hide);
        ScriptedPrompts prompts;
        Form form(&prompts);
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        form.date->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(form.box(), QStringLiteral("12"));
        if (hide)
            form.date->hide();
        else
            form.date->setBoxEnabled(false);
        QVERIFY(prompts.messages.isEmpty());
        QVERIFY(!form.box()->hasFocus());
        QCOMPARE(form.date->text(), kEmpty);
    }

    // With the program's own message box: the box is answered while it is open, and the
    // focus still comes back to the date.
    void refusalWithTheRealMessageBox() {
        Form form(nullptr);
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        form.date->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(form.box(), QStringLiteral("31022015"));

        QString seen;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        answer.start(20);
        QTest::keyClick(form.box(), Qt::Key_Tab);
        answer.stop();

        QCOMPARE(seen, kRefused);
        QCOMPARE(form.date->text(), kEmpty);
        QCOMPARE(form.window.focusWidget(), form.box());
        // Without a window manager nothing gives the window back its activation once the
        // message box is gone; a desktop does, and the focus lands in the box.
        form.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        QCOMPARE(QApplication::focusWidget(), form.box());
        QCOMPARE(form.date->BackColor(), datacont::focusColor());
        QCOMPARE(form.box()->selectionStart(), 0);
        QCOMPARE(form.box()->selectedText().size(), 10);
    }
};

QTEST_MAIN(TestDatacont)
#include "tst_datacont.moc"
