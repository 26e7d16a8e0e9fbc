#include "failure.h"

#include <gtest/gtest.h>

#include <new>
#include <sstream>

#include "run_tree.h"

TEST(RunReportingMemory, MemoryRunningOutIsReportedAndLeavesNoOutput) {
    RunTree tree;
    std::ostringstream console;
    const int status = run_reporting_memory(console, "Not enough memory.", [&]() -> int {
        OutputFile output;
        EXPECT_TRUE(create_output_file(output, (tree.output / "a_discharge.dat").string(), true));
        throw std::bad_alloc();
    });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(console.str(), "Not enough memory.\n");
    EXPECT_TRUE(std::filesystem::is_empty(tree.output));
    EXPECT_EQ(run_reporting_memory(console, "unused", [] { return 0; }), 0);
}
