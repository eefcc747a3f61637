// An upload whose acknowledgement never comes: the watchdog's upload timeout.
#include <gtest/gtest.h>

#include <string>

#include "e2e/fake_board.h"
#include "e2e/upload_board.h"

TEST(UploadEndToEnd, LostAcknowledgementEndsInTheUploadTimeout) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(3000);
    const std::string path = folder.write("sys.bin", image);
    e2e::FakeBoard board([](e2e::FakeBoard& b, const std::string& datagram) {
        // The first block's acknowledgement is lost; the second block never comes.
        if (!e2e::is_image_block(datagram)) {
            e2e::answer_upload(b, datagram);
        }
    });
    auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "updatesys", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    const std::string head = e2e::connecting_line(board.port()) + ".OK.\nRead file " +
                             e2e::upper(path) + " (3000 bytes).\nUploading";
    const std::string tail = "timeout while uploading.\nTarget system no longer responding.\n";
    ASSERT_GE(r.out.size(), head.size() + tail.size());
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    const std::string stars = r.out.substr(head.size(), r.out.size() - head.size() - tail.size());
    EXPECT_EQ(stars, std::string(stars.size(), '*'));
    EXPECT_GE(stars.size(), 18u);
    EXPECT_LE(stars.size(), 20u);
    // The block went out once: nothing is repeated during the upload.
    EXPECT_EQ(board.received(),
              (std::vector<std::string>{"<VERSION>", "<UPDATESYS>", image.substr(0, 1024)}));
    EXPECT_GE(r.seconds, 19.5);
    EXPECT_LE(r.seconds, 24.0);
}
