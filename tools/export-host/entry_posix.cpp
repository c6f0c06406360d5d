#include <string>
#include <vector>

int RunHost(const std::vector<std::string>& args);

int main(int argc, char** argv) {
    return RunHost(std::vector<std::string>(argv + 1, argv + argc));
}
