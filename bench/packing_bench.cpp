// Packing and unpacking of the records that travel to the remote admin service, beside the
// linear-scan coder, and Base64 on its own.
//
// The packing functions print their progress (the whole packed text, among other things) on
// standard output at every call, as they do in the product. Here standard output goes to
// /dev/null so that those prints cost what they cost without flooding the terminal; the report
// goes to the original standard output.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/report_stream.h"
#include "remote/base64.h"
#include "remote/dictionary_coder.h"
#include "remote/packing.h"
#include "tests/remote/reference_coder.h"

namespace {

using Bytes = std::vector<uint8_t>;

const size_t kRecordSizes[] = {4, 648, 5388, 8772, 8780};

void Put(Bytes& data, size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
}

void PutNumber(Bytes& data, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

const char kItemXml[] =
    "<CALENDAR ID=\"20240612T093000-4F2A\"><STARTIME>2024-06-12T09:30:00</STARTIME>"
    "<FINISHTIME>2024-06-12T10:30:00</FINISHTIME><SUBJECT>Quarterly review</SUBJECT>"
    "<LOCATION>Meeting room 2</LOCATION><ORGANIZER>jsmith@example.com</ORGANIZER>"
    "<ATTENDEES>alee@example.com;bkhan@example.com;cmoreau@example.com</ATTENDEES>"
    "<MODIFIEDDATE>2024-06-01T16:02:11</MODIFIEDDATE><REMINDER>15</REMINDER>"
    "<CATEGORY>Business</CATEGORY><PRIVATE>0</PRIVATE><ALLDAY>0</ALLDAY></CALENDAR>";

const char kMessage[] =
    "From: John Smith <jsmith@example.com>\r\nTo: alee@example.com, bkhan@example.com\r\n"
    "Subject: Quarterly review\r\nDate: Sat, 01 Jun 2024 16:02:11 +0200\r\n"
    "Message-ID: <20240601160211.4F2A@example.com>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=us-ascii\r\nX-Calendar-Start: 2024-06-12T09:30:00\r\n"
    "X-Calendar-Finish: 2024-06-12T10:30:00\r\n\r\nHello all,\r\n\r\nplease find the agenda for "
    "the quarterly review below. We will go through the figures of the second quarter, the "
    "plans for the third and the open items from the last meeting.\r\n\r\n1. Figures of the "
    "quarter\r\n2. Plans for the next quarter\r\n3. Open items\r\n4. Any other business\r\n\r\n"
    "Please send me your slides by Tuesday evening.\r\n\r\nRegards,\r\nJohn\r\n";

const char kStylesheet[] =
    "<?xml version=\"1.0\"?><xsl:stylesheet version=\"1.0\" "
    "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"><xsl:template match=\"/\">"
    "<BASEELEMENT><xsl:for-each select=\"BASEELEMENT/ELEMENT\"><xsl:sort "
    "select=\"CALENDAR/STARTIME\"/><xsl:copy-of select=\".\"/></xsl:for-each></BASEELEMENT>"
    "</xsl:template></xsl:stylesheet>";

// A record as the exports send them: texts in their fixed fields, a few numbers, and the zero
// padding that fills most of each.
Bytes RecordShaped(size_t size) {
    Bytes data(size, 0);
    switch (size) {
        case 4:  // a function result
            data[0] = 1;
            break;
        case 648:   // AppointmentRequest
        case 8780:  // ListItem
            Put(data, 0, "jsmith");
            Put(data, 256, "headoffice");
            PutNumber(data, 512, 1718184600);
            PutNumber(data, 516, 1718188200);
            Put(data, 520, "20240612T093000-4F2A");
            if (size == 648) {
                Put(data, 584, "Y2024M06D12");
            } else {
                Put(data, 584, kItemXml);
                PutNumber(data, 8776, sizeof kItemXml - 1);
            }
            break;
        case 5388:  // ListContext
            PutNumber(data, 1024, 1717200000);
            PutNumber(data, 1028, 1719791999);
            Put(data, 1032, "headoffice");
            Put(data, 1160, "jsmith");
            Put(data, 1288, kStylesheet);
            break;
        case 8772:  // AppointmentItemRequest, one chunk of a message
            Put(data, 0, "jsmith");
            Put(data, 256, "headoffice");
            Put(data, 512, "20240612T093000-4F2A.ITM");
            Put(data, 576, kMessage);
            PutNumber(data, 8768, sizeof kMessage - 1);
            break;
    }
    return data;
}

Bytes Random(size_t size) {
    Bytes data(size);
    std::mt19937 rng(static_cast<uint32_t>(size) * 7);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    return data;
}

// Packing with the linear-scan coder in place of the fast one, everything else alike.
void PackWithReference(const Bytes& data, uint8_t* stream, char* text) {
    const size_t length = cv::reference::Compress(data.data(), data.size(), stream);
    cv::Base64Encode(stream, length, text, cv::kRemoteBufferSize);
}

void PackWithoutPrinting(const Bytes& data, uint8_t* stream, char* text) {
    const size_t length = cv::DictCompress(data.data(), data.size(), stream);
    cv::Base64Encode(stream, length, text, cv::kRemoteBufferSize);
}

std::string Packed(const Bytes& data) {
    std::vector<uint8_t> stream(2 * data.size() + 2);
    std::vector<char> text(cv::kRemoteBufferSize);
    PackWithoutPrinting(data, stream.data(), text.data());
    return text.data();
}

enum class Coder { kFast, kFastQuiet, kReference };

void Pack(benchmark::State& state, Bytes data, Coder coder) {
    std::vector<uint8_t> stream(2 * data.size() + 2);
    std::vector<char> text(cv::kRemoteBufferSize);
    for (auto _ : state) {
        switch (coder) {
            case Coder::kFast:
                cv::PackParameter(data.data(), data.size(), text.data(), text.size());
                break;
            case Coder::kFastQuiet:
                PackWithoutPrinting(data, stream.data(), text.data());
                break;
            case Coder::kReference:
                PackWithReference(data, stream.data(), text.data());
                break;
        }
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void Unpack(benchmark::State& state, Bytes data, Coder coder) {
    const std::string text = Packed(data);
    std::vector<uint8_t> stream(text.size() + 1);
    Bytes out(data.size());
    for (auto _ : state) {
        if (coder == Coder::kFast) {
            cv::UnpackParameter(text.c_str(), out.data(), out.size());
        } else {
            const int length = cv::Base64Decode(text.c_str(), stream.data(), stream.size());
            size_t written = 0;
            if (coder == Coder::kFastQuiet) {
                cv::DictDecompress(stream.data(), static_cast<size_t>(length), out.data(),
                                   out.size(), &written);
            } else {
                cv::reference::Decompress(stream.data(), static_cast<size_t>(length), out.data(),
                                          out.size(), &written);
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    if (out != data) state.SkipWithError("the record did not come back");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void Base64Encode(benchmark::State& state) {
    const Bytes data = Random(24000);
    std::vector<char> text(cv::kRemoteBufferSize + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            cv::Base64Encode(data.data(), data.size(), text.data(), text.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void Base64Decode(benchmark::State& state) {
    const Bytes data = Random(24000);
    std::vector<char> text(cv::kRemoteBufferSize + 1);
    const int length = cv::Base64Encode(data.data(), data.size(), text.data(), text.size());
    Bytes out(data.size() + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cv::Base64Decode(text.data(), out.data(), out.size()));
        benchmark::ClobberMemory();
    }
    // Throughput in text characters, the side that is scanned.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}

void Register() {
    struct Shape {
        const char* name;
        Bytes (*make)(size_t);
    };
    const Shape shapes[] = {{"record", RecordShaped}, {"random", Random}};
    const struct {
        const char* name;
        Coder coder;
    } coders[] = {
        {"", Coder::kFast}, {"_quiet", Coder::kFastQuiet}, {"_reference", Coder::kReference}};
    for (const char* op : {"pack", "unpack"}) {
        for (const Shape& shape : shapes) {
            for (size_t size : kRecordSizes) {
                for (const auto& c : coders) {
                    const std::string name =
                        std::string(op) + c.name + "/" + shape.name + "/" + std::to_string(size);
                    const Bytes data = shape.make(size);
                    if (op[0] == 'p') {
                        benchmark::RegisterBenchmark(name.c_str(), Pack, data, c.coder);
                    } else {
                        benchmark::RegisterBenchmark(name.c_str(), Unpack, data, c.coder);
                    }
                }
            }
        }
    }
    benchmark::RegisterBenchmark("base64_encode/24000", Base64Encode);
    benchmark::RegisterBenchmark("base64_decode/32000", Base64Decode);
}

// The console report, and at its end the figures the coder is held to.
class TargetReporter : public benchmark::ConsoleReporter {
  public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // One figure per benchmark: its run, or the median of its repetitions. CPU time,
            // since the machine is shared and wall time counts the others' work too.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type == Run::RT_Iteration || median) && !run.error_occurred) {
                nanoseconds_[run.run_name.str()] = run.GetAdjustedCPUTime() /
                                                   benchmark::GetTimeUnitMultiplier(run.time_unit) *
                                                   1e9;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        std::ostream& out = GetOutputStream();
        out << "\nTargets, by CPU time (8,780-byte records; Base64 over 24,000 bytes):\n";
        for (const char* shape : {"record", "random"}) {
            const std::string size = std::string("/") + shape + "/8780";
            Ratio(out, std::string("pack ") + shape + ": reference / pack", "pack_reference" + size,
                  "pack" + size, "at least 20");
            Ratio(out, std::string("pack ") + shape + ": reference / pack (quiet)",
                  "pack_reference" + size, "pack_quiet" + size, "at least 20");
            Ratio(out, std::string("unpack ") + shape + ": pack / unpack", "pack" + size,
                  "unpack" + size, "at least 2");
            Ratio(out, std::string("unpack ") + shape + ": pack / unpack (quiet)",
                  "pack_quiet" + size, "unpack_quiet" + size, "at least 2");
        }
        Speed(out, "base64 encode", "base64_encode/24000", 24000);
        Speed(out, "base64 decode", "base64_decode/32000", 32000);
        ConsoleReporter::Finalize();
    }

  private:
    void Ratio(std::ostream& out, const std::string& what, const std::string& slow,
               const std::string& fast, const char* target) {
        if (nanoseconds_.count(slow) == 0 || nanoseconds_.count(fast) == 0) return;
        char line[160];
        std::snprintf(line, sizeof line, "  %-42s %8.1fx  (target %s)\n", what.c_str(),
                      nanoseconds_[slow] / nanoseconds_[fast], target);
        out << line;
    }
    void Speed(std::ostream& out, const std::string& what, const std::string& name, int bytes) {
        if (nanoseconds_.count(name) == 0) return;
        char line[160];
        std::snprintf(line, sizeof line, "  %-42s %8.0f MB/s  (target above 500)\n", what.c_str(),
                      bytes / nanoseconds_[name] * 1e3);
        out << line;
    }

    std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char** argv) {
    return cvbench::RunWithReportAside<TargetReporter>(argc, argv, "packing_bench", Register);
}
