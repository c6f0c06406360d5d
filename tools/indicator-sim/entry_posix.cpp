#include <string>
#include <vector>

int RunSimulator(const std::vector<std::string>& args);

int main(int argc, char** argv) {
    return RunSimulator(std::vector<std::string>(argv + 1, argv + argc));
}
