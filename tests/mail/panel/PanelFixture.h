// A panel database and a mail authentication database for the panel query
// tests: example.com with the domain aliases example.net and example.org,
// its mailname info with the mail aliases sales and office and its mailname
// admin without aliases, and other.example (domain alias other.net) with
// its own info, whose mail alias is x.
#ifndef KORVO_TESTS_MAIL_PANEL_PANELFIXTURE_H
#define KORVO_TESTS_MAIL_PANEL_PANELFIXTURE_H

#include "sandbox/MailAuthDatabase.h"
#include "sandbox/PanelDatabase.h"

namespace korvo::test {

class PanelFixture : public PanelDatabaseTest {
protected:
    void SetUp() override {
        PanelDatabaseTest::SetUp();
        if (HasFatalFailure())
            return;
        createMailAuthDatabase();
        addDomain("example.com", {"example.net", "example.org"});
        addMailname("example.com", "info", {"sales", "office"});
        addMailname("example.com", "admin");
        addDomain("other.example", {"other.net"});
        addMailname("other.example", "info", {"x"});
    }
};

} // namespace korvo::test

#endif
