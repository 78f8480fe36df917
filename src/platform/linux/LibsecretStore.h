#pragma once

#include "platform/SecretStore.h"

// The Secret Service (GNOME Keyring, KWallet) through libsecret's synchronous
// calls. Items carry the schema "org.brightfold.Vell.apikeys" (attribute
// xdg:schema) and the string attribute "account"; new items go to the default
// collection. Reading never asks to unlock; saving and unlock() may show the
// desktop's unlock prompt and block until it is answered. A locked item is neither
// read nor removed: both report `locked`. Any thread, one at a time.
class LibsecretStore : public SecretStore
{
public:
    static constexpr const char* kSchemaName = "org.brightfold.Vell.apikeys";
    static constexpr const char* kAccountAttribute = "account";

    Result load(const QString& account) override;
    Result save(const QString& account, const QByteArray& secret) override;
    Result remove(const QString& account) override;
    Result unlock() override;
};
