#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// One HTML page as a small form-filling browser sees it: the body's source, the body's
// rendered text, and the form controls, whose values can be filled and submitted.
// Parsing is done once, on construction (gumbo); the page keeps no parser state.
class HtmlPage {
  public:
    HtmlPage() = default;
    // bytes: the page as received; url: where it came from (forms resolve against it);
    // contentType: the Content-Type header, whose charset wins over the page's own.
    //
    // A page with more than kMostMarkupItems tags and attributes together is not parsed:
    // it reads as a page with an empty body and no forms. No login page comes near that
    // many, and hostile markup (deep nesting, misnested formatting tags, thousands of
    // attributes on one tag) costs the parser time and memory that grow with the square
    // of the count.
    HtmlPage(const QByteArray& bytes, const QUrl& url, const QByteArray& contentType = {});

    static constexpr qsizetype kMostMarkupItems = 2500;

    const QUrl& url() const { return m_url; }
    bool isEmpty() const { return m_empty; }

    // The source text between the body's start and end tags, as written in the page.
    const QString& bodyHtml() const { return m_bodyHtml; }

    // The body as a reader sees it: no markup, entities decoded, runs of white space
    // made one blank, block elements on lines of their own, scripts and styles left out.
    const QString& bodyText() const { return m_bodyText; }

    // Sets the value of the first control (input, textarea, select) whose name, or else
    // whose id, is nameOrId. False when there is none.
    bool setValue(const QString& nameOrId, const QString& value);
    // The current value of that control; empty optional when there is none.
    std::optional<QString> value(const QString& nameOrId) const;

    // What submitting the page's first form sends: its method, its action resolved
    // against the page, and the successful controls urlencoded (hidden ones included).
    struct Submission {
        QByteArray method; // "GET" or "POST"
        QUrl url;          // for GET the data is the query
        QByteArray body;   // for POST, application/x-www-form-urlencoded
    };
    std::optional<Submission> firstFormSubmission() const;

    // application/x-www-form-urlencoded, as browsers write it (UTF-8, blank as '+').
    static QByteArray formEncode(const QList<std::pair<QString, QString>>& pairs);

  private:
    struct Control {
        QString tag;  // "input", "textarea", "select"
        QString type; // lower-case input type; empty for textarea and select
        QString name;
        QString id;
        QString value;         // input and textarea
        QStringList options;   // select: option values in order
        QStringList selected;  // select: selected option values
        bool checked = false;  // checkbox and radio
        bool disabled = false; // the control or an enclosing fieldset
        int form = -1;         // index into m_forms, -1 outside any form
    };
    struct Form {
        QString method;
        QString action;
    };

    Control* find(const QString& nameOrId);
    const Control* find(const QString& nameOrId) const;

    QUrl m_url;
    QUrl m_baseUrl;
    bool m_empty = true;
    QString m_bodyHtml;
    QString m_bodyText;
    QList<Control> m_controls;
    QList<Form> m_forms;

    friend class HtmlPageBuilder;
};
