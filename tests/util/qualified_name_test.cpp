#include "util/qualified_name.h"

#include <gtest/gtest.h>

#include <string>

namespace morva::naming_test {

template <std::size_t N>
std::string Name(const char (&pretty)[N]) {
    return QualifiedName(pretty).data();
}

struct Service {
    static std::string Member() {
        return QualifiedName<sizeof(__PRETTY_FUNCTION__)>(__PRETTY_FUNCTION__).data();
    }
};

// A lambda's name as the compilers spell it: in the table below.
TEST(QualifiedName, NamesTheEnclosingFunctionWithoutSignature) {
    EXPECT_EQ(Service::Member(), "morva::naming_test::Service::Member");
}

TEST(QualifiedName, StripsReturnTypesParametersAndTemplateNoise) {
    EXPECT_EQ(Name("void morva::Module::InitCreds()"), "morva::Module::InitCreds");
    EXPECT_EQ(Name("morva::Module::Module(morva::EnvironmentProfile, int)"),
              "morva::Module::Module");
    EXPECT_EQ(Name("const char *morva::X::What(int)"), "morva::X::What");
    EXPECT_EQ(Name("std::map<int, std::string> morva::F(std::vector<int>)"), "morva::F");
    EXPECT_EQ(Name("int ExecuteDll(char16_t*, Body&&, const char*, const Args& ...) [with Body = "
                   "main()::<lambda()>; Args = {}]"),
              "ExecuteDll");
    EXPECT_EQ(Name("morva::Module::InitCreds()::<lambda()>"), "morva::Module::InitCreds");
    EXPECT_EQ(Name("auto morva::F()::(anonymous class)::operator()() const"), "morva::F");
    EXPECT_EQ(Name("void (anonymous namespace)::Helper()"), "(anonymous namespace)::Helper");
}

}  // namespace morva::naming_test
