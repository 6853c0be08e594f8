#include "declaration_reader.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace declaration {
namespace {

struct Token {
    enum Kind { word, text, punct, hint, end } kind;
    std::string value; // a word, a string's contents, one punctuation mark or a hint's words
    int line;
};

std::vector<Token> tokenize(const std::string& s) {
    std::vector<Token> tokens;
    int line = 1;
    for (size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '#') {
            const size_t end = s.find('\n', i) == std::string::npos ? s.size() : s.find('\n', i);
            if (s.compare(i, 2, "#:") == 0) {
                tokens.push_back({Token::hint, s.substr(i + 2, end - i - 2), line});
            }
            i = end;
        } else if (c == '"') {
            const size_t close = s.find('"', i + 1);
            if (close == std::string::npos || s.find('\n', i) < close) {
                throw std::runtime_error("line " + std::to_string(line) + ": unclosed string");
            }
            tokens.push_back({Token::text, s.substr(i + 1, close - i - 1), line});
            i = close + 1;
        } else if (c == '(' || c == ')' || c == '{' || c == '}' || c == ',') {
            tokens.push_back({Token::punct, std::string(1, c), line});
            ++i;
        } else {
            size_t j = i;
            while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j])) &&
                   std::string("(){},\"#").find(s[j]) == std::string::npos) {
                ++j;
            }
            tokens.push_back({Token::word, s.substr(i, j - i), line});
            i = j;
        }
    }
    tokens.push_back({Token::end, "", line});
    return tokens;
}

double number(const std::string& word, int line) {
    char* end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    if (word.empty() || *end != '\0') {
        throw std::runtime_error("line " + std::to_string(line) + ": '" + word +
                                 "' is not a number");
    }
    return value;
}

class Parser {
  public:
    explicit Parser(const std::string& text) : tokens_(tokenize(text)) {}

    Declaration declaration() {
        Declaration d;
        skip_hints();
        expect_word("declare");
        expect_word("shader");
        d.result_type = word();
        d.shader = text();
        expect_punct("(");
        // A parameter's hints follow it, after its comma if it has one.
        bool more = !accept_punct(")");
        while (more) {
            d.parameters.push_back(parameter());
            more = accept_punct(",");
            hints_into(d.parameters.back());
            if (!more) {
                expect_punct(")");
            }
        }
        requirements(d);
        return d;
    }

  private:
    const Token& peek() const { return tokens_[at_]; }
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("line " + std::to_string(peek().line) + ": " + what);
    }
    std::string word() {
        if (peek().kind != Token::word) {
            fail("expected a word, found '" + peek().value + "'");
        }
        return tokens_[at_++].value;
    }
    std::string text() {
        if (peek().kind != Token::text) {
            fail("expected a quoted name, found '" + peek().value + "'");
        }
        return tokens_[at_++].value;
    }
    void expect_word(const char* w) {
        if (word() != w) {
            --at_;
            fail(std::string("expected '") + w + "'");
        }
    }
    bool accept_punct(const char* p) {
        if (peek().kind == Token::punct && peek().value == p) {
            ++at_;
            return true;
        }
        return false;
    }
    void expect_punct(const char* p) {
        if (!accept_punct(p)) {
            fail(std::string("expected '") + p + "', found '" + peek().value + "'");
        }
    }
    void skip_hints() {
        while (peek().kind == Token::hint) {
            ++at_;
        }
    }

    Parameter parameter() {
        Parameter p;
        p.type = word();
        if (p.type != "integer" && p.type != "scalar" && p.type != "boolean") {
            --at_;
            fail("unknown parameter type '" + p.type + "'");
        }
        p.name = text();
        if (peek().kind == Token::word && peek().value == "default") {
            ++at_;
            const int line = peek().line;
            const std::string value = word();
            p.has_default = true;
            if (p.type == "boolean") {
                if (value != "on" && value != "off") {
                    fail("a boolean's default is on or off");
                }
                p.default_value = value == "on" ? 1.0 : 0.0;
            } else {
                p.default_value = number(value, line);
            }
        }
        return p;
    }

    // "#:" comments after a parameter: keyword and value pairs.
    void hints_into(Parameter& p) {
        while (peek().kind == Token::hint) {
            const Token& hint = tokens_[at_++];
            std::vector<Token> words = tokenize(hint.value);
            words.pop_back();
            for (size_t k = 0; k < words.size(); k += 2) {
                const std::string& key = words[k].value;
                if (k + 1 >= words.size()) {
                    throw std::runtime_error("line " + std::to_string(hint.line) + ": '" + key +
                                             "' has no value");
                }
                if (key == "shortname" && words[k + 1].kind == Token::text) {
                    p.shortname = words[k + 1].value;
                } else if (key == "default" || key == "min" || key == "max" || key == "softmin" ||
                           key == "softmax") {
                    p.hints[key] = number(words[k + 1].value, hint.line);
                } else {
                    throw std::runtime_error("line " + std::to_string(hint.line) +
                                             ": unknown hint '" + key + "'");
                }
            }
        }
    }

    void requirements(Declaration& d) {
        for (;;) {
            if (peek().kind == Token::hint) {
                const Token& hint = tokens_[at_++];
                std::vector<Token> words = tokenize(hint.value);
                if (words.size() == 1) {
                    continue; // an empty "#:" line
                }
                if (words.size() != 3 || words[0].value != "nodeid") {
                    throw std::runtime_error("line " + std::to_string(hint.line) +
                                             ": only nodeid may follow the parameters");
                }
                d.nodeid = static_cast<long>(number(words[1].value, hint.line));
                continue;
            }
            const std::string keyword = word();
            if (keyword == "version") {
                const int line = peek().line;
                d.version = static_cast<int>(number(word(), line));
            } else if (keyword == "apply") {
                do {
                    d.apply.push_back(word());
                } while (accept_punct(","));
            } else if (keyword == "gui") {
                d.gui = text();
                expect_punct("{");
                controls(d, "");
            } else if (keyword == "end") {
                expect_word("declare");
                skip_hints();
                if (peek().kind != Token::end) {
                    fail("text after 'end declare'");
                }
                return;
            } else {
                --at_;
                fail("unknown statement '" + keyword + "'");
            }
        }
    }

    // Controls up to and including the closing brace of their block.
    void controls(Declaration& d, const std::string& panel) {
        while (!accept_punct("}")) {
            expect_word("control");
            Control c;
            c.name = text();
            c.type = text();
            c.panel = panel;
            expect_punct("(");
            while (!accept_punct(")")) {
                if (!c.attributes.empty()) {
                    expect_punct(",");
                }
                Attribute a;
                a.name = text();
                while (peek().kind == Token::word || peek().kind == Token::text) {
                    a.values.push_back(tokens_[at_++].value);
                }
                c.attributes.push_back(a);
            }
            d.controls.push_back(c);
            if (accept_punct("{")) {
                controls(d, c.name);
            }
        }
    }

    std::vector<Token> tokens_;
    size_t at_ = 0;
};

} // namespace

const std::vector<std::string>* Control::find(const std::string& attribute) const {
    for (const Attribute& a : attributes) {
        if (a.name == attribute) {
            return &a.values;
        }
    }
    return nullptr;
}

bool read(const std::string& text, Declaration& declaration, std::string& error) {
    try {
        declaration = Parser(text).declaration();
        return true;
    } catch (const std::runtime_error& e) {
        error = e.what();
        return false;
    }
}

std::string without_hints(const std::string& text) {
    std::string out;
    int depth = 0;       // braces open inside the gui block
    bool in_gui = false; // from the word gui to its closing brace
    bool in_string = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!in_string && c == '#') {
            i = text.find('\n', i);
            if (i == std::string::npos) {
                break;
            }
            out += '\n';
            continue;
        }
        if (c == '"') {
            in_string = !in_string;
        }
        const bool word_start = i == 0 || std::isspace(static_cast<unsigned char>(text[i - 1]));
        if (!in_string && !in_gui && word_start && text.compare(i, 4, "gui ") == 0) {
            in_gui = true;
        }
        if (in_gui) {
            if (!in_string && c == '{') {
                ++depth;
            } else if (!in_string && c == '}' && --depth == 0) {
                in_gui = false;
            }
            if (c == '\n') {
                out += c;
            }
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace declaration
