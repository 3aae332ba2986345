#pragma once

#include <memory>
#include <string_view>

namespace vurin {

// How a polish result relates to its transcript. Lengths are in units that weigh Chinese,
// English and mixed text alike: a CJK character is one unit, a word of letters or digits one
// unit per three characters (about a spoken syllable each). Content is compared after Unicode
// compatibility folding and case folding, with punctuation and spacing ignored: a word counts as
// found when the other text has it (or spells it as words run together, "get user by id" and
// getUserById), a CJK character when the other text has it beside the same neighbour, and a
// number however it is written (三, 3, three).
struct PolishMeasures {
    double resultUnits = 0;
    // The transcript's length without the filler words the result left out (嗯, 那个, um, like,
    // a stutter): dropping them is what polishing is for.
    double transcriptUnits = 0;
    // Share of the result that comes from the transcript: low when the model adds content of its
    // own (an answer, a preface, a refusal, a translation).
    double fromTranscript = 1;
    // Share of the transcript (fillers aside) that the result keeps: low when it drops content.
    double kept = 1;
    // Result length over transcript length, both with a little added so very short texts do not
    // swing it.
    double lengthRatio = 1;
    // Share of each text written in CJK characters.
    double cjkShareTranscript = 0;
    double cjkShareResult = 0;
    // How often the result's most repeated run of four units occurs, and how often that run
    // occurs in the transcript.
    int repeats = 0;
    int repeatsInTranscript = 0;
    // The result answers as the assistant would, with words the user did not say: it opens with
    // a reply of its own ("对的,", "Yes,", "Sure!"), or takes the user's request on in the first
    // person (帮我… becomes 我会…, "can you…" becomes "I'll…").
    bool speaksAsAssistant = false;
    // The text holds no letter, digit or CJK character at all.
    bool resultHasContent = false;
    bool transcriptHasContent = false;
};

PolishMeasures measurePolish(std::string_view transcript, std::string_view result);

namespace polish_text {
struct Text;
}

// Measures any number of results against one transcript, analysing the transcript once.
class PolishMeasurer {
  public:
    explicit PolishMeasurer(std::string_view transcript);
    ~PolishMeasurer();
    PolishMeasures operator()(std::string_view result) const;

  private:
    std::unique_ptr<const polish_text::Text> said_;
};

}  // namespace vurin
