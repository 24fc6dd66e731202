// The running instance's side channel on a real session bus.
#include "TestSupport.h"

#include "app/SingleInstance.h"

#include <gio/gio.h>
#include <unistd.h>

using namespace corvane;

namespace {

GDBusConnection* newSessionConnection() {
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!address) return nullptr;
  GDBusConnection* c = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
  return c;
}

guint32 requestName(GDBusConnection* c, const std::string& name) {
  GVariant* r = g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                            "RequestName", g_variant_new("(su)", name.c_str(), 4u /* do not queue */),
                                            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  guint32 result = 0;
  if (r) {
    g_variant_get(r, "(u)", &result);
    g_variant_unref(r);
  }
  return result;
}

}  // namespace

TEST(SingleInstance, TheRunningInstanceSaysItsBundleAndGivesUpItsName) {
  if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "needs a session bus";
  GDBusConnection* running = newSessionConnection();
  GDBusConnection* second = newSessionConnection();
  ASSERT_TRUE(running && second);
  const std::string name = "test.corvane.instance" + std::to_string(getpid());
  ASSERT_EQ(requestName(running, name), 1u);
  ASSERT_TRUE(publishRunningBundle(running, "/apps/Ünïcode App.app"));

  // This thread blocks in the call: the answer comes from the running
  // instance's own answering thread.
  EXPECT_EQ(runningBundle(second, name, 5000), "/apps/Ünïcode App.app");
  EXPECT_EQ(requestName(second, name), 3u) << "taken";

  EXPECT_TRUE(releaseInstanceName(running, name));
  EXPECT_FALSE(releaseInstanceName(running, name)) << "no longer ours";
  EXPECT_EQ(runningBundle(second, name, 2000), std::nullopt);
  EXPECT_EQ(requestName(second, name), 1u) << "a later start becomes the instance";
  g_object_unref(running);
  g_object_unref(second);
}
