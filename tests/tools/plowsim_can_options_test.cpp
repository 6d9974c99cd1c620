#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_options.h"

namespace {

TEST(SimCanOptions, CanBusAndAddress_Parsed) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--can", "virtualcan:can0", "--can-address", "41"}, o, error)) << error;
  EXPECT_EQ(o.canBus, "virtualcan:can0");
  EXPECT_EQ(o.canAddress, 41);
  SimOptions defaults;
  ASSERT_TRUE(ParseSimOptions({"--can", "socketcan:can1"}, defaults, error)) << error;
  EXPECT_EQ(defaults.canAddress, 28);
}

TEST(SimCanOptions, BadBusAddressOrSecondTransport_Refused) {
  const std::vector<std::vector<std::string>> refused = {
      {"--can", "virtualcan"},
      {"--can", ":can0"},
      {"--can", "virtualcan:"},
      {"--can", "virtualcan:can0", "--can-address", "0"},
      {"--can", "virtualcan:can0", "--can-address", "254"},
      {"--can", "virtualcan:can0", "--can-address", "x"},
      {"--can", "virtualcan:can0", "--tcp", "0"},
      {"--can", "virtualcan:can0", "--pty", "/tmp/x"},
      {"--can-address", "40"},
  };
  for (const auto& args : refused) {
    SimOptions o;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(args, o, error)) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
