// Reading XML documents with Windows' own XmlLite, loaded when first needed (MinGW has no import
// library for it). DTDs are refused, so no entity can expand, and elements nest at most
// MARKUP_MOST_DEPTH deep.
#pragma once

#include <string>

struct IXmlReader;

// What a walk over a document is told. Names are local names in lower case, without a prefix.
class XmlVisitor {
public:
    virtual ~XmlVisitor() = default;
    // The reader stands on the element: its attributes can be read with Attribute. False stops the
    // walk early (as a success).
    virtual bool Start(const std::u16string& name, IXmlReader* reader) = 0;
    virtual bool End(const std::u16string& name) = 0;
    virtual void Text(const char16_t* text, size_t count) = 0;
};

// Markup bytes as text: by their mark, else the charset they declare (a name, or empty), else by the
// plug-in's rule for text files.
std::u16string DecodeMarkupBytes(const std::string& bytes, const std::string& declaredCharset);

// The value of the attribute of that local name (any namespace) on the element the reader stands on.
std::u16string Attribute(IXmlReader* reader, const char16_t* name);

// Walks the document in bytes (encoding as its declaration or mark says). False with a reason when
// XmlLite cannot be loaded or the document is not well-formed.
bool WalkXml(const std::string& bytes, XmlVisitor* visitor, std::string* error);
