#include "support/interaction.h"

#include <unistd.h>

#include <iostream>
#include <string>

#include "platform/text_codec.h"

namespace qb {

namespace {

ConsoleInteraction& consoleInteraction() {
    static ConsoleInteraction console;
    return console;
}

Interaction*& current() {
    static Interaction* impl = nullptr;
    return impl;
}

const char* iconWord(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Information:
            return "Information";
        case MsgIcon::Warning:
            return "Warning";
        case MsgIcon::Error:
            return "Error";
        case MsgIcon::Confirmation:
            return "Question";
        case MsgIcon::None:
            break;
    }
    return "Quillbox";
}

struct Choice {
    const char* word;
    MsgAnswer answer;
};

std::vector<Choice> choices(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::Ok:
            return {{"ok", MsgAnswer::Ok}};
        case MsgButtons::OkCancel:
            return {{"ok", MsgAnswer::Ok}, {"cancel", MsgAnswer::Cancel}};
        case MsgButtons::YesNo:
            return {{"yes", MsgAnswer::Yes}, {"no", MsgAnswer::No}};
        case MsgButtons::YesNoCancel:
            return {{"yes", MsgAnswer::Yes}, {"no", MsgAnswer::No}, {"cancel", MsgAnswer::Cancel}};
        case MsgButtons::RetryCancel:
            return {{"retry", MsgAnswer::Retry}, {"cancel", MsgAnswer::Cancel}};
    }
    return {{"ok", MsgAnswer::Ok}};
}

}  // namespace

Interaction& interaction() {
    Interaction* impl = current();
    return impl ? *impl : consoleInteraction();
}

Interaction* setInteraction(Interaction* impl) {
    Interaction* previous = current();
    current() = impl;
    return previous;
}

MsgAnswer safeAnswer(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::Ok:
            return MsgAnswer::Ok;
        case MsgButtons::YesNo:
            return MsgAnswer::No;
        case MsgButtons::OkCancel:
        case MsgButtons::YesNoCancel:
        case MsgButtons::RetryCancel:
            break;
    }
    return MsgAnswer::Cancel;
}

MsgAnswer ConsoleInteraction::messageBox(std::string_view text, MsgIcon icon, MsgButtons buttons) {
    // A message may quote names from outside: only its own line breaks reach the terminal.
    std::cerr << "quillbox: " << iconWord(icon) << ": " << platform::escapeControls(text, true)
              << "\n";
    const auto options = choices(buttons);
    if (options.size() == 1 || !::isatty(STDIN_FILENO)) {
        MsgAnswer answer = safeAnswer(buttons);
        if (options.size() > 1) {
            for (const Choice& c : options)
                if (c.answer == answer)
                    std::cerr << "quillbox: no terminal to ask; answering " << c.word << "\n";
        }
        return answer;
    }
    for (;;) {
        std::cerr << "[";
        for (size_t i = 0; i < options.size(); ++i)
            std::cerr << (i ? "/" : "") << options[i].word;
        std::cerr << "]? " << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) return safeAnswer(buttons);
        for (const Choice& c : options) {
            std::string word(c.word);
            if (!line.empty() && word.compare(0, line.size(), line) == 0) return c.answer;
        }
    }
}

MsgAnswer ScriptedInteraction::messageBox(std::string_view text, MsgIcon icon, MsgButtons buttons) {
    boxes.push_back({std::string(text), icon, buttons});
    if (next_ < answers_.size()) return answers_[next_++];
    return safeAnswer(buttons);
}

}  // namespace qb
