#include "drivers/sharp/csh9_ecr.h"

CSH9_ECR::CSH9_ECR() : CSharpLogic(m_protocol, SharpModel::S455) {}
