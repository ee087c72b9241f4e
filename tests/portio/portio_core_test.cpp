// The port library's inside, against trees and folders of the tests' own: how
// an address finds its device, and which back end serves a port. The real
// port's device is in parport_device_test.cpp, the write path over the
// simulated port and the trace in port_io_test.cpp.

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "parport_finder.h"
#include "port_chooser.h"
#include "port_trees.h"
#include "temp_folder.h"

namespace runlight::portio {
namespace {

using runlight::testing::addPort;
using runlight::testing::settingsFor;
using runlight::testing::TempFolder;
using ::testing::HasSubstr;

TEST(ParportFinder, PicksThePortWhoseBaseAddressMatches) {
    TempFolder proc;
    addPort(proc, 0, "956\t1980\n");  // 0x3BC
    addPort(proc, 1, "888\t1912\n");
    addPort(proc, 2, "53264\t53272\n");  // a PCIe card at 0xD010
    proc.write("sys/dev/parport/default/timeslice", "200\n");

    const auto at888 = findParport(888, proc.path(), "/dev", "");
    ASSERT_TRUE(at888);
    EXPECT_EQ(at888->device, "/dev/parport1");
    EXPECT_EQ(at888->number, 1);
    EXPECT_EQ(at888->rule, ParportChoice::Rule::Address);

    const auto card = findParport(0xD010, proc.path(), "/dev", "");
    ASSERT_TRUE(card);
    EXPECT_EQ(card->device, "/dev/parport2");
    EXPECT_FALSE(findParport(0x278, proc.path(), "/dev", "")) << "no port, and 0x278 is not 888";
}

TEST(ParportFinder, TakesTheFirstPortFor888WhenNoneHasThatAddress) {
    TempFolder proc;
    addPort(proc, 2, "53264\t53272\n");
    addPort(proc, 1, "49152\t49160\n");
    const auto first = findParport(888, proc.path(), "/dev", "");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->device, "/dev/parport1") << "the lowest-numbered port is the first one";
    EXPECT_EQ(first->rule, ParportChoice::Rule::FirstPort);
    EXPECT_FALSE(findParport(0x278, proc.path(), "/dev", ""));
}

TEST(ParportFinder, TheDeviceOverrideWinsAndAMissingDriverListsNothing) {
    TempFolder proc;
    addPort(proc, 0, "888\t1912\n");
    const auto chosen = findParport(888, proc.path(), "/dev", "/dev/parport3");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->device, "/dev/parport3");
    EXPECT_EQ(chosen->number, 3);
    EXPECT_EQ(chosen->rule, ParportChoice::Rule::Override);

    TempFolder empty;
    EXPECT_TRUE(listParports(empty.path()).empty());
    EXPECT_FALSE(findParport(888, empty.path(), "/dev", ""));
}

TEST(PortChooser, AutoTakesTheRealPortWhenThereIsOneElseTheSimulation) {
    TempFolder none;
    TempFolder withPort;
    addPort(withPort, 0, "888\t1912\n");
    EXPECT_EQ(choose(888, settingsFor("", none.path())).kind, Choice::Kind::Sim);
    EXPECT_EQ(choose(888, settingsFor("auto", none.path())).kind, Choice::Kind::Sim);
    EXPECT_EQ(choose(888, settingsFor("auto", withPort.path())).kind, Choice::Kind::Parport);
    EXPECT_EQ(choose(888, settingsFor("sim", withPort.path())).kind, Choice::Kind::Sim);

    auto overridden = settingsFor("auto", none.path());
    overridden.device = "/dev/parport7";
    const auto choice = choose(888, overridden);
    EXPECT_EQ(choice.kind, Choice::Kind::Parport)
        << "a named device is a request for the real port";
    EXPECT_EQ(choice.parport.device, "/dev/parport7");
}

TEST(PortChooser, ParportWithoutAPortAndUnknownValuesAreErrors) {
    TempFolder none;
    const auto missing = choose(888, settingsFor("parport", none.path()));
    EXPECT_EQ(missing.kind, Choice::Kind::Error);
    EXPECT_THAT(missing.error, HasSubstr("port 888 (0x378)"));
    EXPECT_THAT(missing.error, HasSubstr("no parallel port found"));
    EXPECT_THAT(missing.error,
                HasSubstr("USB-to-parallel printer cables cannot drive the data lines"));

    TempFolder other;
    addPort(other, 0, "53264\t53272\n");
    const auto elsewhere = choose(0x278, settingsFor("parport", other.path()));
    EXPECT_THAT(elsewhere.error, HasSubstr("PORTIO_DEVICE")) << "says how to pick the card's port";

    const auto garbage = choose(888, settingsFor("paralel", none.path()));
    EXPECT_EQ(garbage.kind, Choice::Kind::Error);
    EXPECT_THAT(garbage.error, HasSubstr("PORTIO_BACKEND=paralel"));
    EXPECT_THAT(garbage.error, HasSubstr("auto, parport, sim"));
}

}  // namespace
}  // namespace runlight::portio
