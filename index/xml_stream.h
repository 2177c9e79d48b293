// A plain document written to a file as it is made, for a tree too large to be worth holding: a
// large calendar's folder index is a million nodes, which a document allocates one by one only for
// its save to walk them once and its end to free them again.
//
// A plain document is one root, below it elements with one attribute each, whose children each
// hold one text. The file gets the bytes that XmlDocument::Save gives the same tree. A backend
// whose save is not its own to copy (the COM DOM's) does not stream, and Open says so; a text that
// is not printable ASCII (tab, line feed and carriage return allowed), which each DOM converts and
// escapes in its own way, is refused. In both cases the caller builds a document instead.
#pragma once

#include <memory>

namespace cv {

class XmlStreamFile {
  public:
    XmlStreamFile();
    ~XmlStreamFile();  // a file not finished is closed as it stands: the caller deletes it
    XmlStreamFile(const XmlStreamFile&) = delete;
    XmlStreamFile& operator=(const XmlStreamFile&) = delete;

    // False in a build that does not stream, whose Open always fails.
    static bool Streams();

    // Creates the file (or empties it) for a document whose root is named `root`. False when the
    // file cannot be made, or this build does not stream.
    bool Open(const char* path, const char* root);
    // An element below the root with one attribute. It is held back until it ends, so that one
    // whose making fails part way can be left out.
    bool BeginElement(const char* name, const char* attribute, const char* value);
    // A child element of the element begun, holding the text.
    bool TextChild(const char* name, const char* text);
    // Ends the element begun: written out when kept, else dropped.
    void EndElement(bool keep);
    // Ends the document and closes the file. False when a write failed or anything was refused:
    // the file is then no copy of the tree.
    bool Finish();
    // A text or a name was refused: the stream cannot give the tree's bytes.
    bool refused() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace cv
