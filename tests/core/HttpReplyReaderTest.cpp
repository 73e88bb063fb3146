#include "HttpReplyReader.h"

#include <gtest/gtest.h>

// Every reply gives the same result read whole and read a byte at a time.
TEST(HttpReplyReader, FramesBodiesAndRefusesWhatItCannotRead) {
    using R = HttpReplyReader::Result;
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const struct {
        QByteArray bytes;
        R result;
        QByteArray body;
    } rows[] = {
        {ok + "Content-Length: 5\r\n\r\nhelloextra", R::complete, "hello"},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 200 OK\r\nA: b\r\n\r\nto the end", R::complete,
         "to the end"},
        {ok + "transfer-encoding: Chunked\r\n\r\n3;x=y\r\nabc\r\n2\r\nde\r\n0\r\nT: v\r\n\r\n",
         R::complete, "abcde"},
        {"HTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\n", R::complete, ""},
        {ok + "Content-Length: 9\r\n\r\nhello", R::truncated, "hello"},
        {ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nab", R::truncated, "ab"},
        {"", R::truncated, ""},
        {ok + "Content-Length: 11\r\n\r\n", R::bodyTooLarge, ""},
        {ok + "\r\n0123456789abc", R::bodyTooLarge, "0123456789a"},
        {ok + "X: " + QByteArray(HttpReplyReader::maximumHeaderBytes, 'a'), R::headersTooLarge, ""},
        {ok + "Content-Length: 99999999999999999999\r\n\r\n", R::notHttp, ""},
        {ok + "Content-Length: -1\r\n\r\n", R::notHttp, ""},
        {ok + "Content-Length: 1\r\nContent-Length: 2\r\n\r\n", R::notHttp, ""},
        {ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", R::notHttp, ""},
        {ok + "Transfer-Encoding: chunked\r\n\r\n1\r\nab\r\n", R::notHttp, "a"},
        {ok + "Transfer-Encoding: chunked\r\n\r\n1\r\naxy", R::notHttp, "a"},
        {ok + "Content-Length: 0\r\nContent-Length: 2\r\n\r\n", R::notHttp, ""},
        {ok + "Bad Name: x\r\n\r\n", R::notHttp, ""},
        {"HTTP/2.0 200 OK\r\n\r\n", R::notHttp, ""},
        {ok + "Transfer-Encoding: gzip\r\n\r\n", R::notHttp, ""},
        {ok + "no colon\r\n\r\n", R::notHttp, ""},
        {"HTTP/1.1 2000 OK\r\n\r\n", R::notHttp, ""},
        {"SSH-2.0-OpenSSH", R::notHttp, ""}};
    for (const auto& row : rows) {
        for (const bool bytewise : {false, true}) {
            HttpReplyReader reader(10);
            R result = R::reading;
            const qsizetype step = bytewise ? 1 : row.bytes.size();
            for (qsizetype at = 0; at < row.bytes.size() && result == R::reading; at += step)
                result = reader.read(QByteArrayView(row.bytes).sliced(at, step));
            if (result == R::reading)
                result = reader.end();
            EXPECT_EQ(std::pair(result, reader.body()), std::pair(row.result, row.body))
                << row.bytes.left(60).toStdString() << bytewise;
        }
    }
}
