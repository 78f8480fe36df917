#include "platform/linux/LibsecretStore.h"

#include <libsecret/secret.h>

#include <memory>
#include <variant>

namespace {

const SecretSchema* schema()
{
    static const SecretSchema kSchema = {
        LibsecretStore::kSchemaName,
        SECRET_SCHEMA_NONE,
        {
            {LibsecretStore::kAccountAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &kSchema;
}

struct ErrorFree
{
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct ObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
using ServicePtr = std::unique_ptr<SecretService, ObjectUnref>;

struct HashUnref
{
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using AttributesPtr = std::unique_ptr<GHashTable, HashUnref>;

struct ValueUnref
{
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;

SecretStore::Result failure(GError* raw)
{
    const ErrorPtr error(raw);
    SecretStore::Result result;
    result.code = error->code;
    if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED)
        result.status = SecretStore::Status::locked;
    else if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED)
        result.status = SecretStore::Status::locked; // an unlock prompt was dismissed
    else if (error->domain == G_DBUS_ERROR &&
             (error->code == G_DBUS_ERROR_SERVICE_UNKNOWN || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER ||
              error->code == G_DBUS_ERROR_NO_SERVER || error->code == G_DBUS_ERROR_DISCONNECTED ||
              (error->code >= G_DBUS_ERROR_SPAWN_EXEC_FAILED && error->code <= G_DBUS_ERROR_SPAWN_FAILED)))
        result.status = SecretStore::Status::noService;
    else if (error->domain == G_IO_ERROR)
        result.status = SecretStore::Status::noService; // no session bus to reach a service through
    else
        result.status = SecretStore::Status::failed;
    return result;
}

SecretStore::Result status(SecretStore::Status status)
{
    SecretStore::Result result;
    result.status = status;
    return result;
}

// The shared connection; libsecret keeps it for the process.
std::variant<ServicePtr, SecretStore::Result> connect()
{
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service)
        return error ? failure(error) : status(SecretStore::Status::noService);
    return ServicePtr(service);
}

AttributesPtr attributesFor(const QString& account)
{
    const QByteArray name = account.toUtf8();
    return AttributesPtr(
        secret_attributes_build(schema(), LibsecretStore::kAccountAttribute, name.constData(), nullptr));
}

} // namespace

SecretStore::Result LibsecretStore::load(const QString& account)
{
    auto connection = connect();
    if (auto* result = std::get_if<Result>(&connection))
        return *result;
    SecretService* service = std::get<ServicePtr>(connection).get();

    // Asking for locked items too tells "locked" apart from "nothing stored";
    // no unlock is requested, so this never waits for a prompt.
    GError* error = nullptr;
    GList* items =
        secret_service_search_sync(service, schema(), attributesFor(account).get(),
                                   SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS), nullptr, &error);
    if (error)
        return failure(error);

    Result result = status(items ? Status::locked : Status::noItem);
    for (GList* item = items; item; item = item->next) {
        auto* secretItem = static_cast<SecretItem*>(item->data);
        if (secret_item_get_locked(secretItem))
            continue;
        const ValuePtr value(secret_item_get_secret(secretItem));
        if (!value)
            continue;
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.get(), &length);
        result = status(Status::ok);
        result.secret = QByteArray(bytes, qsizetype(length));
        break;
    }
    g_list_free_full(items, g_object_unref);
    return result;
}

SecretStore::Result LibsecretStore::save(const QString& account, const QByteArray& secret)
{
    auto connection = connect();
    if (auto* result = std::get_if<Result>(&connection))
        return *result;
    SecretService* service = std::get<ServicePtr>(connection).get();

    // Stored in one step, replacing the old item, so a failure leaves the old
    // key in place instead of none.
    const ValuePtr value(secret_value_new(secret.constData(), secret.size(), "text/plain"));
    const QByteArray label = QStringLiteral("Vell API key (%1)").arg(account).toUtf8();
    GError* error = nullptr;
    if (!secret_service_store_sync(service, schema(), attributesFor(account).get(), SECRET_COLLECTION_DEFAULT,
                                   label.constData(), value.get(), nullptr, &error))
        return error ? failure(error) : status(Status::failed);
    return status(Status::ok);
}

SecretStore::Result LibsecretStore::remove(const QString& account)
{
    auto connection = connect();
    if (auto* result = std::get_if<Result>(&connection))
        return *result;
    SecretService* service = std::get<ServicePtr>(connection).get();

    const AttributesPtr attributes = attributesFor(account);
    GError* error = nullptr;
    const bool removed = secret_service_clear_sync(service, schema(), attributes.get(), nullptr, &error);
    if (error)
        return failure(error);

    // Locked items are skipped without an error, so look whether any is left.
    GList* left = secret_service_search_sync(service, schema(), attributes.get(), SECRET_SEARCH_ALL, nullptr, &error);
    if (error)
        return failure(error);
    const bool anyLeft = left != nullptr;
    g_list_free_full(left, g_object_unref);
    if (anyLeft)
        return status(Status::locked);
    return status(removed ? Status::ok : Status::noItem);
}

SecretStore::Result LibsecretStore::unlock()
{
    auto connection = connect();
    if (auto* result = std::get_if<Result>(&connection))
        return *result;
    SecretService* service = std::get<ServicePtr>(connection).get();

    // The default collection, where new keys go, and wherever else keys are
    // kept locked: one request, so the desktop asks once.
    GError* error = nullptr;
    GList* locked = nullptr;
    if (SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                        SECRET_COLLECTION_NONE, nullptr, &error)) {
        if (secret_collection_get_locked(collection))
            locked = g_list_append(locked, collection);
        else
            g_object_unref(collection);
    }
    g_clear_error(&error); // no default collection: the items may still be elsewhere
    GHashTable* noAttributes = secret_attributes_build(schema(), nullptr);
    GList* items = secret_service_search_sync(service, schema(), noAttributes, SECRET_SEARCH_ALL, nullptr, &error);
    g_hash_table_unref(noAttributes);
    if (error) {
        g_list_free_full(locked, g_object_unref);
        return failure(error);
    }
    for (GList* item = items; item; item = item->next)
        if (secret_item_get_locked(static_cast<SecretItem*>(item->data)))
            locked = g_list_append(locked, g_object_ref(item->data));
    g_list_free_full(items, g_object_unref);
    if (!locked)
        return status(Status::ok);

    GList* unlocked = nullptr;
    // One prompt unlocks all of them or none; a dismissed one unlocks none.
    const gint count = secret_service_unlock_sync(service, locked, nullptr, &unlocked, &error);
    g_list_free_full(unlocked, g_object_unref);
    g_list_free_full(locked, g_object_unref);
    if (error)
        return failure(error);
    return status(count > 0 ? Status::ok : Status::locked);
}
