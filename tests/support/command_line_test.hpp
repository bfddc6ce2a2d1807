#pragma once

// A fixture for tests that run a program on files: each test gets a fresh folder of its own,
// removed afterwards, and runs the program in it with its standard output and error kept apart
// from the folder, so the folder holds only what the test and the program wrote.
//
//     class My_Tool : public Command_Line_Test {};
//     TEST_F(My_Tool, Works) {
//         write("in.txt", "...");
//         EXPECT_EQ(run(TOOL_PATH, "in.txt -o out.txt"), 0) << err;
//         EXPECT_EQ(read("out.txt"), "...");
//     }

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class Command_Line_Test : public testing::Test {
protected:
    void SetUp() override {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 (std::string(test->test_suite_name()) + "_" + test->name() + "_" +
                  std::to_string(getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }

    void TearDown() override {
        std::filesystem::remove_all(folder);
        std::filesystem::remove(output_file("out"));
        std::filesystem::remove(output_file("err"));
    }

    std::filesystem::path path(const std::string& name) const { return folder / name; }

    // Writes `bytes` to the file `name` in the folder, making the folders on its way.
    void write(const std::string& name, const std::string& bytes) const {
        std::filesystem::create_directories(path(name).parent_path());
        std::ofstream(path(name), std::ios::binary) << bytes;
    }

    std::string read(const std::string& name) const { return read_file(path(name)); }

    // Runs `program` with `arguments` (words for the shell) in the folder, after `before` (such
    // as "cat rom.bin |"), with standard output to `output` when one is named (such as
    // "/dev/full"); returns its exit status, -1 when it did not exit, and keeps its output in
    // `out` and `err`.
    int run(const std::string& program, const std::string& arguments,
            const std::string& before = "", const std::string& output = "") {
        const std::string out_name =
            output.empty() ? "'" + output_file("out").string() + "'" : output;
        const std::string command = "cd '" + folder.string() + "' && " + before + " '" + program +
                                    "' " + arguments + " > " + out_name + " 2> '" +
                                    output_file("err").string() + "'";
        const int status = std::system(command.c_str());
        out = read_file(output_file("out"));
        err = read_file(output_file("err"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::filesystem::path folder;
    std::string out;
    std::string err;

private:
    std::filesystem::path output_file(const std::string& stream) const {
        return folder.string() + "." + stream;
    }

    static std::string read_file(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};
