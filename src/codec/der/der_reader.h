// CDerReader: a parsed constructed (or context-specific) element whose
// children are walked one by one with NextChild, or listed all at once with
// ParseList. Every child is bounds-checked against its parent's content.
#pragma once

#include <vector>

#include "codec/der/der_element.h"

class CDerReader : public CDerElement {
 public:
  struct Child {
    const BYTE* encoding;  // identifier, length and content of the child
    int32_t length;
  };

  // ParseHeader, then the cursor at the first child.
  [[nodiscard]] BYTE Parse(const BYTE* input, int32_t length, int32_t expectedTag, BYTE expectedClass);

  // The next child's encoding; 0 with *length 0 when none is left, 0 when the
  // child is malformed or runs past the parent, or when this element is a
  // universal primitive one (which has no children).
  [[nodiscard]] BYTE NextChild(const BYTE** child, int32_t* length);
  // True when the cursor has consumed the whole content.
  bool AtEnd() const { return m_cursor >= m_valueViewLength; }
  // The identifier byte of the next child, or -1 when none is left.
  int PeekIdentifier() const { return AtEnd() ? -1 : m_valueView[m_cursor]; }

  // Parses the header and lists every child; 1 only when the children fill
  // the content exactly.
  [[nodiscard]] BYTE ParseList(const BYTE* input, int32_t length, int32_t expectedTag, BYTE expectedClass);
  size_t ChildCount() const { return m_children.size(); }
  const Child& ChildAt(size_t i) const { return m_children[i]; }

  void Clear() override;

 private:
  std::vector<Child> m_children;
};
