#pragma once

#include <QString>

// The installation's account for the update login, kept by the installation in the
// installation file of the data folder (readable by its owner only). Values are taken
// as written after "=", blanks at either end and one pair of double quotes removed:
//   [Account]
//   Utente=<account name>
//   Password=<password>
struct UpdateAccount {
    QString name;
    QString password;

    // Empty fields when the file or the keys are missing.
    static UpdateAccount read();

    // Blank name or password (after removing spaces): the login cannot run.
    bool isBlank() const;
};
