// Forgetting the elements that content rules left open in earlier traffic.
#pragma once

class CXmlNode;

// Sets the remembered open-element depth of every content element of the
// document, nested ones included, back to 0: the next piece starts with no
// element open. The walk keeps its own stack, so any nesting depth is safe.
void ResetOpenElements(CXmlNode& document);
