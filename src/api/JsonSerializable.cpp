#include "JsonSerializable.h"

JsonSerializable::~JsonSerializable() = default;
