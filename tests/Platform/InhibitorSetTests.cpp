// The set is held while any mechanism is, gives back only what it took, and reports the first
// mechanism's failure when nothing could be held.
#include "Lumenor/Platform/InhibitorSet.h"

#include <gtest/gtest.h>

namespace {

class Scripted : public Inhibitor {
public:
    Scripted(std::string name, std::vector<std::string>& journal)
        : name_(std::move(name)), journal_(journal) {}
    std::optional<std::string> refusal;

    std::string name() const override { return name_; }
    std::optional<std::string> take(const std::string& reason) override {
        journal_.push_back("take " + name_ + " " + reason);
        return refusal;
    }
    void give() override { journal_.push_back("give " + name_); }

private:
    std::string name_;
    std::vector<std::string>& journal_;
};

TEST(InhibitorSet, HeldWhileAnyPartIsAndFailsWithTheFirstPartsReason) {
    std::vector<std::string> journal;
    std::vector<std::unique_ptr<Inhibitor>> parts;
    std::vector<Scripted*> part;
    for (const char* name : {"logind", "portal", "power-manager"}) {
        part.push_back(static_cast<Scripted*>(
            parts.emplace_back(std::make_unique<Scripted>(name, journal)).get()));
    }
    InhibitorSet set("PreventUserIdleSystemSleep", "why", std::move(parts));
    part[0]->refusal = "no login manager (logind) on the system bus";
    part[2]->refusal = "no power manager on the session bus";
    set.set(true);
    EXPECT_NE(set.id(), 0u);
    EXPECT_EQ(set.heldBy(), std::vector<std::string>{"portal"});
    EXPECT_EQ(set.failure(), "");
    set.set(false);
    EXPECT_EQ(journal, (std::vector<std::string>{"take logind why", "take portal why",
                                                 "take power-manager why", "give portal"}));

    part[1]->refusal = "no desktop portal (xdg-desktop-portal) on the session bus";
    set.set(true);
    EXPECT_EQ(set.id(), 0u);
    EXPECT_TRUE(set.heldBy().empty());
    EXPECT_EQ(set.failure(), "no login manager (logind) on the system bus");
    journal.clear();
    set.set(false);
    EXPECT_TRUE(journal.empty()) << "nothing was taken, so nothing is given back";
}

} // namespace
