#include "columns/arrow_stream.hpp"

#include <cerrno>

#include <gtest/gtest.h>

namespace corvane {
namespace {

// Consumers may call a stream they released, or one whose contents they moved out; it must fail
// instead of reading what the release freed.
TEST(ArrowStream, ReleasedStreamFailsWithEinval) {
    ArrowArrayStream stream;
    export_arrow_stream(std::make_shared<const ColumnTable>(), &stream);
    ArrowSchema schema;
    ASSERT_EQ(stream.get_schema(&stream, &schema), 0);
    schema.release(&schema);
    stream.release(&stream);
    ASSERT_EQ(stream.release, nullptr);
    EXPECT_EQ(stream.get_schema(&stream, &schema), EINVAL);
    ArrowArray array;
    EXPECT_EQ(stream.get_next(&stream, &array), EINVAL);
    EXPECT_EQ(stream.get_last_error(&stream), nullptr);
}

}  // namespace
}  // namespace corvane
