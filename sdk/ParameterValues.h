// Every parameter value class and the byte image helpers.
#pragma once

#include "sdk/ByteReader.h"
#include "sdk/IParameterValue.h"
#include "sdk/IParameterValueAction.h"
#include "sdk/IParameterValueBool.h"
#include "sdk/IParameterValueDouble.h"
#include "sdk/IParameterValueEnum.h"
#include "sdk/IParameterValueString.h"
#include "sdk/IParameterValueTemplate.h"
