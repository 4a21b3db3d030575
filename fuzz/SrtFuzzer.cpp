// fuzz_srt: arbitrary bytes as an SRT file, read as kelvo-subtitles reads
// one: decoded (byte-order marks, UTF-16 through iconv), told apart from an
// ASS script, its captions read and its time line cut. Run with a memory
// limit, an allocation out of proportion to the input is a finding. The run
// aborts when a refusal is not one line naming the file, when a caption
// taken has a time outside 0 to LatestTime, ends before it starts or names
// a line the file does not have, or when the intervals do not tile the
// captions' times exactly.
#include "fuzz/ReaderChecks.h"
#include "tools/SubtitleScript.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Qor::Fuzzing;
    using namespace Qor::Tools;
    std::string text;
    std::string error = decodeScriptText(std::vector<uint8_t>(data, data + size), "f.srt", "", text);
    if (refused(error, "f.srt")) {
        require(text.empty(), "text kept on refusal");
        return 0;
    }
    ScriptKind kind = ScriptKind::Srt;
    error = detectScriptKind(text, "f.srt", kind);
    if (refused(error, "f.srt"))
        return 0;
    std::vector<Caption> captions;
    std::vector<std::string> warnings;
    error = parseSrt(text, "f.srt", captions, warnings);
    if (refused(error, "f.srt", warnings)) {
        require(captions.empty(), "captions kept on refusal");
        return 0;
    }
    const size_t lines = splitLines(text).size();
    std::vector<TimedEvent> events;
    for (const Caption& caption : captions) {
        require(caption.start >= 0 && caption.start < caption.end && caption.end <= LatestTime, "a caption's times");
        require(caption.line >= 1 && caption.line <= lines, "a caption's line is not in the file");
        require(!caption.text.empty(), "a caption without text");
        events.push_back(TimedEvent{caption.start, caption.end, caption.line});
    }
    // Every caption is in exactly the intervals that lie within its times,
    // and they cover its times without gap.
    const std::vector<Interval> intervals = cutTimeline(events);
    std::vector<int64_t> covered(events.size());
    for (size_t e = 0; e < events.size(); ++e)
        covered[e] = events[e].start;
    for (size_t k = 0; k < intervals.size(); ++k) {
        const Interval& interval = intervals[k];
        require(interval.start < interval.end && !interval.events.empty(), "an empty interval");
        require(k == 0 || intervals[k - 1].end <= interval.start, "intervals out of order or overlapping");
        bool shared = false;
        for (size_t e : interval.events) {
            require(e < events.size() && covered[e] == interval.start, "a caption's intervals leave a gap");
            shared = shared || events[e].start < interval.start;
            covered[e] = interval.end;
        }
        require(interval.continues == shared, "an interval's continuing is not whether an event carries over");
    }
    for (size_t e = 0; e < events.size(); ++e)
        require(covered[e] == events[e].end, "a caption's intervals stop before it ends");
    return 0;
}
