#include "platform/linux/LibsecretStore.h"

#include <QElapsedTimer>
#include <QList>

#include <gtest/gtest.h>

#include <libsecret/secret.h>

#include <cstdlib>

void PrintTo(SecretStore::Status status, std::ostream* out)
{
    static const char* const kNames[] = {"ok", "noItem", "locked", "noService", "failed"};
    *out << kNames[int(status)];
}

// Runs inside tests/support/with-keyring: a private session bus with an
// unlocked gnome-keyring whose password is in VELL_TEST_KEYRING_PASSWORD.
namespace {

using Status = SecretStore::Status;

// What other programs see in the keyring, through libsecret directly.
class Keyring
{
public:
    Keyring()
    {
        GError* error = nullptr;
        m_service = secret_service_get_sync(
            SecretServiceFlags(SECRET_SERVICE_OPEN_SESSION | SECRET_SERVICE_LOAD_COLLECTIONS), nullptr, &error);
        EXPECT_NE(m_service, nullptr) << (error ? error->message : "");
        g_clear_error(&error);
        m_bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    }

    ~Keyring()
    {
        g_clear_object(&m_service);
        g_clear_object(&m_bus);
    }

    // Items whose attributes are exactly xdg:schema=org.brightfold.Vell.apikeys
    // and account=<account>, locked ones included; secrets of unlocked ones.
    QList<QByteArray> itemsFor(const QString& account)
    {
        GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
        g_hash_table_insert(attributes, gpointer("xdg:schema"), gpointer(LibsecretStore::kSchemaName));
        const QByteArray name = account.toUtf8();
        g_hash_table_insert(attributes, gpointer("account"), gpointer(name.constData()));
        GError* error = nullptr;
        GList* items = secret_service_search_sync(m_service, nullptr, attributes,
                                                  SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
                                                  nullptr, &error);
        g_hash_table_unref(attributes);
        EXPECT_EQ(error, nullptr) << error->message;
        g_clear_error(&error);
        QList<QByteArray> secrets;
        for (GList* item = items; item; item = item->next) {
            SecretValue* value = secret_item_get_secret(static_cast<SecretItem*>(item->data));
            if (!value) {
                secrets.append(QByteArray()); // locked
                continue;
            }
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            secrets.append(QByteArray(bytes, qsizetype(length)));
            secret_value_unref(value);
        }
        g_list_free_full(items, g_object_unref);
        return secrets;
    }

    // An item written the way another tool writes one: attributes given by hand.
    void storeByHand(const QString& account, const QByteArray& secret)
    {
        GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
        g_hash_table_insert(attributes, gpointer("xdg:schema"), gpointer(LibsecretStore::kSchemaName));
        const QByteArray name = account.toUtf8();
        g_hash_table_insert(attributes, gpointer("account"), gpointer(name.constData()));
        SecretValue* value = secret_value_new(secret.constData(), secret.size(), "text/plain");
        GError* error = nullptr;
        EXPECT_TRUE(secret_service_store_sync(m_service, nullptr, attributes, SECRET_COLLECTION_DEFAULT, "by hand",
                                              value, nullptr, &error));
        EXPECT_EQ(error, nullptr) << error->message;
        g_clear_error(&error);
        secret_value_unref(value);
        g_hash_table_unref(attributes);
    }

    void lockDefaultCollection()
    {
        GError* error = nullptr;
        SecretCollection* collection = secret_collection_for_alias_sync(m_service, SECRET_COLLECTION_DEFAULT,
                                                                        SECRET_COLLECTION_NONE, nullptr, &error);
        ASSERT_NE(collection, nullptr);
        GList* objects = g_list_append(nullptr, collection);
        EXPECT_EQ(secret_service_lock_sync(m_service, objects, nullptr, nullptr, &error), 1);
        g_list_free(objects);
        g_object_unref(collection);
        g_clear_error(&error);
    }

    // gnome-keyring's own unlock with the password, which needs no prompt.
    void unlockDefaultCollection()
    {
        GError* error = nullptr;
        GVariant* opened = g_dbus_connection_call_sync(
            m_bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
            "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")), G_VARIANT_TYPE("(vo)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        ASSERT_NE(opened, nullptr) << error->message;
        const gchar* session = nullptr;
        g_variant_get(opened, "(v&o)", nullptr, &session);
        const QByteArray password = qgetenv("VELL_TEST_KEYRING_PASSWORD");
        GVariant* arguments = g_variant_new(
            "(o(o@ay@ays))", "/org/freedesktop/secrets/collection/login", session,
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password.constData(), password.size(), 1), "text/plain");
        GVariant* unlocked = g_dbus_connection_call_sync(m_bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                         "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
                                                         "UnlockWithMasterPassword", arguments, nullptr,
                                                         G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        EXPECT_NE(unlocked, nullptr) << error->message;
        g_clear_error(&error);
        if (unlocked)
            g_variant_unref(unlocked);
        g_variant_unref(opened);
    }

private:
    SecretService* m_service = nullptr;
    GDBusConnection* m_bus = nullptr;
};

class LibsecretStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("VELL_TEST_KEYRING_PASSWORD"))
            GTEST_SKIP() << "needs tests/support/with-keyring";
    }

    LibsecretStore m_store;
    Keyring m_keyring;
};

TEST_F(LibsecretStoreTest, KeepsOneSecretPerAccount)
{
    EXPECT_EQ(m_store.load(QStringLiteral("kept-a")).status, Status::noItem);
    EXPECT_EQ(m_store.save(QStringLiteral("kept-a"), "sk-first").status, Status::ok);
    EXPECT_EQ(m_store.save(QStringLiteral("kept-b"), "sk-other").status, Status::ok);
    EXPECT_EQ(m_store.save(QStringLiteral("kept-a"), "sk-second").status, Status::ok);

    const SecretStore::Result loaded = m_store.load(QStringLiteral("kept-a"));
    EXPECT_EQ(loaded.status, Status::ok);
    EXPECT_EQ(loaded.secret, "sk-second");
    EXPECT_EQ(m_keyring.itemsFor(QStringLiteral("kept-a")), QList<QByteArray>{"sk-second"}); // replaced, not added
    EXPECT_EQ(m_store.load(QStringLiteral("kept-b")).secret, "sk-other");

    EXPECT_EQ(m_store.remove(QStringLiteral("kept-a")).status, Status::ok);
    EXPECT_EQ(m_store.load(QStringLiteral("kept-a")).status, Status::noItem);
    EXPECT_TRUE(m_keyring.itemsFor(QStringLiteral("kept-a")).isEmpty());
    EXPECT_EQ(m_store.remove(QStringLiteral("kept-a")).status, Status::noItem);
    EXPECT_EQ(m_store.load(QStringLiteral("kept-b")).secret, "sk-other");
}

TEST_F(LibsecretStoreTest, ItemsOfOtherToolsAreFoundBySchemaAndAccount)
{
    m_keyring.storeByHand(QStringLiteral("by-hand"), "sk-by-hand \xc3\xa9");
    const SecretStore::Result loaded = m_store.load(QStringLiteral("by-hand"));
    EXPECT_EQ(loaded.status, Status::ok);
    EXPECT_EQ(loaded.secret, "sk-by-hand \xc3\xa9");
}

TEST_F(LibsecretStoreTest, ALockedKeyringIsToldApartAndKeepsItsItems)
{
    ASSERT_EQ(m_store.save(QStringLiteral("locked-a"), "sk-locked").status, Status::ok);
    m_keyring.lockDefaultCollection();

    // No display here, so the unlock prompt fails at once instead of waiting.
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(m_store.load(QStringLiteral("locked-a")).status, Status::locked);
    EXPECT_EQ(m_store.save(QStringLiteral("locked-b"), "sk-new").status, Status::locked);
    // A locked item is not removed; that must not pass for "nothing stored".
    EXPECT_EQ(m_store.remove(QStringLiteral("locked-a")).status, Status::locked);
    // Asked to unlock, with nobody there to answer the prompt: still locked.
    EXPECT_EQ(m_store.unlock().status, Status::locked);
    EXPECT_LT(elapsed.elapsed(), 20'000);

    m_keyring.unlockDefaultCollection();
    const SecretStore::Result loaded = m_store.load(QStringLiteral("locked-a"));
    EXPECT_EQ(loaded.status, Status::ok);
    EXPECT_EQ(loaded.secret, "sk-locked");
    EXPECT_EQ(m_store.load(QStringLiteral("locked-b")).status, Status::noItem);
    EXPECT_EQ(m_store.remove(QStringLiteral("locked-a")).status, Status::ok);
    EXPECT_EQ(m_store.unlock().status, Status::ok); // nothing left to unlock
}

TEST(LibsecretStoreWithoutBus, ReportsNoService)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a fresh process, so that no connection to the real bus is cached.
    EXPECT_EXIT(
        {
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vell-test-bus");
            LibsecretStore store;
            const bool noService = store.load(QStringLiteral("x")).status == Status::noService &&
                                   store.save(QStringLiteral("x"), "sk").status == Status::noService &&
                                   store.remove(QStringLiteral("x")).status == Status::noService;
            std::_Exit(noService ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
