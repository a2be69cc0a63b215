// The publishing settings: the password taken out of the connection string
// and put back, the connection box's rules, the registry images and texts.
#include <gtest/gtest.h>

#include "server/console/publish_settings.h"
#include "test_support.h"

namespace tally {
namespace {

// A connection text with its password in it (as typed in the box or as handed
// to the driver), the same without the password, and the password.
struct Case {
    const char* box;
    const char* without;
    const char* password;  // nullptr: the text names none
};

TEST(PublishConnection, PasswordIsTakenOutWhateverItsSpelling) {
    const Case cases[] = {
        {"Inventory", "Inventory", nullptr},
        {"DSN=Inventory;UID=audit;PWD=s3cret", "DSN=Inventory;UID=audit", "s3cret"},
        {"DSN=Inventory;pwd=s3cret;UID=audit;", "DSN=Inventory;UID=audit;", "s3cret"},
        {"DSN=Inventory; Password = s3cret ", "DSN=Inventory", " s3cret "},
        {"PASSWORD=a;DSN=x", "DSN=x", "a"},
        // Braces: ';' and '=' inside belong to the value, "}}" is one '}'.
        {"DRIVER={PostgreSQL Unicode};SERVER=db;PWD={se;c=r}}et};PORT=5432",
         "DRIVER={PostgreSQL Unicode};SERVER=db;PORT=5432", "se;c=r}et"},
        // A key that merely contains the word stays.
        {"DSN=x;PWDHINT=no;OldPassword=y", "DSN=x;PWDHINT=no;OldPassword=y", nullptr},
        // An unclosed brace takes the whole rest: nothing of it is kept as plain text.
        {"DSN=x;PWD={abc;UID=me", "DSN=x", "abc;UID=me"},
        // The last password counts; every one is removed.
        {"PWD=one;DSN=x;PWD=two", "DSN=x", "two"},
        {"DSN=x;PWD=", "DSN=x", ""},
        {"DSN=x;;PWD=p;;", "DSN=x;", "p"},
        {"", "", nullptr},
    };
    for (const Case& c : cases) {
        const SplitConnection split = take_password(c.box);
        EXPECT_EQ(split.without_password, c.without) << c.box;
        EXPECT_EQ(split.password.has_value(), c.password != nullptr) << c.box;
        if (c.password && split.password) {
            EXPECT_EQ(*split.password, c.password) << c.box;
        }
    }
}

TEST(PublishConnection, DriverStringGetsThePasswordBackReadableByTheSameRules) {
    // The driver string made of the connection and the password.
    const Case cases[] = {
        {"DSN=Inventory", "Inventory", ""},
        {"DSN=Inventory;PWD=p", " Inventory ", "p"},
        {"DSN=Inventory;UID=audit;PWD=s3cret", "DSN=Inventory;UID=audit", "s3cret"},
        {"DSN=Inventory;UID=audit;PWD=s3cret", "DSN=Inventory;UID=audit;", "s3cret"},
        {"DSN=x;PWD={se;c}}et}", "DSN=x", "se;c}et"},
        {"DSN=x;PWD={{b}", "DSN=x", "{b"},
        {"DSN=x;PWD={ lead}", "DSN=x", " lead"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        const std::string full = connection_with_password(c.without, c.password);
        EXPECT_EQ(full, c.box) << c.without;
        // What is handed to the driver reads back as the same password.
        const SplitConnection back = take_password(full);
        if (*c.password) {
            ASSERT_TRUE(back.password) << full;
            EXPECT_EQ(*back.password, c.password) << full;
        } else {
            EXPECT_FALSE(back.password) << full;
        }
    }
}

TEST(PublishConnection, BoxKeepsReplacesOrClearsTheStoredPassword) {
    // Before each: the stored string without its password, and the password.
    const Case cases[] = {
        {"DSN=Inventory;UID=audit", "DSN=Inventory;UID=audit", "old"},  // unchanged box: kept
        {"DSN=Other", "DSN=Other", "old"},                              // another server, no PWD: kept
        {"DSN=Inventory;PWD=new", "DSN=Inventory", "new"},              // replaced
        {"DSN=Inventory;PWD=", "DSN=Inventory", ""},                    // removed
        {"  ", "", ""},                                                 // no connection: nothing kept
    };
    for (const Case& c : cases) {
        PublishConfig config;
        config.connection = "DSN=Inventory;UID=audit";
        config.password = "old";
        take_connection_box(config, c.box);
        EXPECT_EQ(config.connection, c.without) << c.box;
        EXPECT_EQ(config.password, c.password) << c.box;
    }
}

TEST(PublishConnection, SettingsForThePublisher) {
    PublishConfig config;
    config.enabled = true;
    config.connection = "Inventory";
    config.password = "p;w";
    PublishSettings s = publish_settings(config, "AUDITSRV");
    EXPECT_TRUE(s.enabled);
    EXPECT_EQ(s.connection_string, "DSN=Inventory;PWD={p;w}");
    EXPECT_EQ(s.site, "AUDITSRV");  // no site: the computer name
    config.site = " Plant 2 ";
    EXPECT_EQ(publish_settings(config, "AUDITSRV").site, "Plant 2");
    EXPECT_EQ(site_from_box(" Plant 2", "AUDITSRV"), "Plant 2");
    EXPECT_EQ(site_from_box("AUDITSRV", "AUDITSRV"), "");  // the default as shown: follows a rename
    EXPECT_EQ(site_from_box("  ", "AUDITSRV"), "");
    config.connection = " ";
    EXPECT_FALSE(publish_settings(config, "AUDITSRV").enabled);  // nothing to connect to
    config.connection = "Inventory";
    config.enabled = false;
    EXPECT_FALSE(publish_settings(config, "AUDITSRV").enabled);
}

TEST(PublishRegistry, ValueImages) {
    test::FakeProtection protection;
    const auto sealed = seal_password("s3cret", protection);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(std::string(sealed->begin(), sealed->end()).find("s3cret"), std::string::npos);
    EXPECT_EQ(unseal_password(*sealed, protection), std::optional<std::string>("s3cret"));
    EXPECT_FALSE(unseal_password({}, protection));      // no value
    EXPECT_FALSE(unseal_password({1, 2}, protection));  // not sealed here
    protection.refuse = true;
    EXPECT_FALSE(seal_password("s3cret", protection));

    const std::uint8_t on = 1, off = 0;
    EXPECT_TRUE(publish_switch_from_value(&on, 1));
    EXPECT_FALSE(publish_switch_from_value(&off, 1));
    EXPECT_FALSE(publish_switch_from_value(nullptr, 0));  // no value: off
    EXPECT_EQ(publish_switch_value(true), std::vector<std::uint8_t>{1});
    const std::uint8_t sz[] = {'D', 'S', 'N', '=', 'x', 0, 'y'};
    EXPECT_EQ(text_from_value(sz, sizeof sz), "DSN=x");
    EXPECT_EQ(text_from_value(sz, 3), "DSN");  // a value without its terminator
}

TEST(PublishTexts, AwaitingAndTheFailedTest) {
    PublishStatus status;
    EXPECT_EQ(awaiting_publish_text(status), "Off");
    status.enabled = true;
    status.awaiting = 5000000000ull;
    EXPECT_EQ(awaiting_publish_text(status), "5000000000");
    EXPECT_EQ(publish_test_failed_text(" could not connect to server\n"),
              "Unable to connect to the database with this connection string:\n\ncould not connect to server");
    EXPECT_NE(publish_test_failed_text("").find("no reason"), std::string::npos);
}

}  // namespace
}  // namespace tally
