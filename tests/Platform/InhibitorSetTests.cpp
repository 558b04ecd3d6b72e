// The set is held while any mechanism is, gives back only what it took, and reports the first
// mechanism's failure when nothing could be held.
#include "Lumenor/Platform/InhibitorSet.h"

#include <gtest/gtest.h>

namespace {

class Scripted : public Inhibitor {
public:
    Scripted(std::string name, std::vector<std::string>& journal)
        : name_(name), journal_(journal) {}
    std::optional<std::string> refusal;
    std::string name() const override { return name_; }
    std::optional<std::string> take(const std::string&) override {
        journal_.push_back("take " + name_);
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
    parts.push_back(std::make_unique<Scripted>("logind", journal));
    parts.push_back(std::make_unique<Scripted>("portal", journal));
    auto& logind = static_cast<Scripted&>(*parts[0]);
    auto& portal = static_cast<Scripted&>(*parts[1]);
    InhibitorSet set(PowerControl::systemAssertionType, "why", std::move(parts));
    logind.refusal = "no login manager (logind) on the system bus";
    set.set(true);
    EXPECT_NE(set.id(), 0u);
    EXPECT_EQ(set.heldBy(), std::vector<std::string>{"portal"});
    set.set(false);
    portal.refusal = "no desktop portal (xdg-desktop-portal) on the session bus";
    set.set(true);
    EXPECT_EQ(set.id(), 0u);
    EXPECT_EQ(set.failure(), *logind.refusal);
    set.set(false);
    EXPECT_EQ(journal, (std::vector<std::string>{"take logind", "take portal", "give portal",
                                                 "take logind", "take portal"}));
}

} // namespace
